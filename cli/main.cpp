// tavrix-cli: the converter without a window. Qt's image readers need no application
// object; their warnings are dropped because every failure comes back as an error.
#include <QtGlobal>

#include <cstdio>

#include "cli/batch.h"
#include "cli/options.h"

int main(int argc, char** argv) {
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  using namespace tavrix::cli;
  try {
    const Options options = parseOptions(argc, argv);
    if (options.help) {
      std::fputs(helpText().c_str(), stdout);
      return 0;
    }
    if (options.version) {
      std::puts("tavrix " TAVRIX_VERSION);
      return 0;
    }
    return runBatch(options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tavrix-cli: %s (see tavrix-cli --help)\n", e.what());
    return 2;
  }
}
