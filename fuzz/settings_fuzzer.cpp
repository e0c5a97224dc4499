// settings_fuzzer: the input is the settings file, read as the window reads it at start-up
// (the native format at the settings path) and applied to one window that lives for the
// whole run, so every value that reads as an integer reaches applySetting.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/settings_store.h"

namespace {

using namespace tavrix;

QTemporaryDir* configDir = nullptr;
MainWindow* window = nullptr;
QString settingsFile;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "settings_fuzzer: %s\n", what);
  std::abort();
}

std::array<int, 8> storedOrder(const SelectorIndices& s) {
  return {s.crop, s.sharpen, s.oversaturate, s.hdr, s.colorRange, s.colormap, s.dither, s.outputMode};
}

// Item counts in the stored order, from the window's own selectors.
std::array<int, 8> itemCounts() {
  constexpr std::array<const char*, 8> kNames = {"ComboBoxCrop",       "ComboBoxSharpen", "ComboBoxOversaturate",
                                                 "ComboBoxHDR",        "ComboBoxColorRange", "ComboBoxColormap",
                                                 "ComboBoxDither",     "ComboBoxOutputMode"};
  std::array<int, 8> counts{};
  for (size_t i = 0; i < kNames.size(); ++i) {
    const auto* box = window->findChild<QComboBox*>(QString::fromLatin1(kNames[i]));
    require(box != nullptr, "a selector is missing");
    counts[i] = box->count();
  }
  return counts;
}

// The stored size is the outer size; the client size is 8x27 less, at least 640x488.
int expectedClientExtent(int stored, int frame, int minimum) {
  return int(std::clamp<int64_t>(int64_t(stored) - frame, minimum, QWIDGETSIZE_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Qt's warnings about malformed values would flood the fuzzer's output.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  configDir = new QTemporaryDir;
  require(configDir->isValid(), "no temporary folder");
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(configDir->path()));
  static int argc = 1;
  static char name[] = "settings_fuzzer";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir->path());
  settingsFile = openSettingsStore()->fileName();
  require(QDir().mkpath(QFileInfo(settingsFile).path()), "cannot make the settings folder");
  window = new MainWindow;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    QFile file(settingsFile);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the settings file");
    require(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size), "short write");
  }
  // QSettings keeps parsed files and reparses one only when its size or time stamp changed:
  // each input gets a time stamp of its own.
  static long long stamp = 1'000'000'000;
  const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
  ++stamp;
  require(utimensat(AT_FDCWD, QFile::encodeName(settingsFile).constData(), times, 0) == 0, "cannot stamp the file");

  std::vector<int> values;
  {
    const std::unique_ptr<QSettings> store = openSettingsStore();
    values = readStoredValues(*store);
  }
  require(values.size() <= kSettingNames.size(), "more values than names");

  const std::array<int, 8> before = storedOrder(window->selectorIndices());
  const std::array<int, 8> counts = itemCounts();
  const QSize sizeBefore = window->size();
  const QPoint posBefore = window->pos();
  window->applyStoredValues(values);

  auto has = [&](size_t i) { return values.size() > i; };
  // Positions are held within the widest window's width, so the edges still fit in an int.
  auto position = [](int stored) { return std::clamp(stored, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX); };
  require(window->y() == (has(0) ? position(values[0]) : posBefore.y()), "Top not applied");
  require(window->x() == (has(1) ? position(values[1]) : posBefore.x()), "Left not applied");
  for (const QRect& g : {window->geometry(), window->frameGeometry()})
    require(g.right() >= g.left() && g.bottom() >= g.top(), "the window is no proper rectangle");
  require(window->width() == (has(2) ? expectedClientExtent(values[2], 8, 640) : sizeBefore.width()),
          "Width not applied");
  require(window->height() == (has(3) ? expectedClientExtent(values[3], 27, 488) : sizeBefore.height()),
          "Height not applied");
  const std::array<int, 8> after = storedOrder(window->selectorIndices());
  for (size_t i = 0; i < after.size(); ++i) {
    int expected = before[i];
    if (has(4 + i)) expected = values[4 + i] >= 0 && values[4 + i] < counts[i] ? values[4 + i] : -1;
    require(after[i] == expected, "a selector does not show its stored index");
  }
  return 0;
}
