// tavrix: the window. A picture named on the command line, as file managers pass it,
// is loaded and converted as soon as the window is up.
#include <QApplication>
#include <QIcon>
#include <QTimer>

#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("tavrix"));
  app.setWindowIcon(QIcon(QStringLiteral(":/tavrix.png")));
  tavrix::MainWindow window;
  window.show();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) QTimer::singleShot(0, &window, [&window, &args] { window.loadAndConvert(args.at(1)); });
  return app.exec();
}
