// The window driven through its own controls on the offscreen platform: settings at start
// and close, the load with its captions, button states and repaints, saving, the preview
// and recovery from failures.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/preview.h"
#include "app/settings_store.h"
#include "convert/zeroed_allocator.h"
#include "tests/bad_inputs.h"
#include "tests/hostile_environment.h"

using namespace tavrix;

namespace {

const QString kPrefix = QStringLiteral("tavrix v0.4.2.6 - ");

// The selectors in the order of their stored values.
const std::array<const char*, 8> kSelectorNames = {
    "ComboBoxCrop",       "ComboBoxSharpen",  "ComboBoxOversaturate", "ComboBoxHDR",
    "ComboBoxColorRange", "ComboBoxColormap", "ComboBoxDither",       "ComboBoxOutputMode"};
const QList<int> kDefaultIndices = {0, 0, 0, 0, 0, 0, 0, 3};

// The same order from the window's own reading of its selectors.
QList<int> storedOrder(const SelectorIndices& s) {
  return {s.crop, s.sharpen, s.oversaturate, s.hdr, s.colorRange, s.colormap, s.dither, s.outputMode};
}

SelectorIndices fromStoredOrder(const QList<int>& v) {
  SelectorIndices s;
  s.crop = v[0], s.sharpen = v[1], s.oversaturate = v[2], s.hdr = v[3];
  s.colorRange = v[4], s.colormap = v[5], s.dither = v[6], s.outputMode = v[7];
  return s;
}

QList<int> settingsList(const ConversionSettings& c) {
  return {c.outputMode, c.sharpen, c.dither, c.colormap, c.oversaturatePercent, c.colorRange, c.hdr};
}

// Stands in for the modal dialogs and records what the window asked.
struct FakeDialogs {
  QString openAnswer;
  QStringList saveAnswers;  // taken from the front, one per save dialog
  QStringList openFilters, saveFilters, saveLastNames, errors;

  Dialogs dialogs() {
    Dialogs d;
    d.openPicture = [this](QWidget*, const QString& filter) {
      openFilters << filter;
      return openAnswer;
    };
    d.saveFile = [this](QWidget*, const QString& filter, const QString& lastName) {
      saveFilters << filter;
      saveLastNames << lastName;
      return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    };
    d.showError = [this](QWidget*, const QString& message) { errors << message; };
    return d;
  }
};

void writeStore(const QList<QPair<QString, QVariant>>& values) {
  const std::unique_ptr<QSettings> store = openSettingsStore();
  store->clear();
  for (const auto& [name, value] : values) store->setValue(name, value);
  store->sync();
}

template <typename T>
T* control(const MainWindow& w, const char* name) {
  T* found = w.findChild<T*>(QString::fromLatin1(name));
  if (!found) qFatal("no control %s", name);
  return found;
}

// Load, Convert, Save PNG, Save .prg, Save data: enabled or not, as a string of 0 and 1.
QString buttonStates(const MainWindow& w) {
  QString s;
  for (const char* name : {"ButtonLoad", "ButtonConvert", "ButtonSavePNG", "ButtonSavePlus4", "ButtonSaveData"})
    s += control<QPushButton>(w, name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
  return s;
}

// Shows the window and loads the open dialog's answer in Normal, the quickest mode; the
// caller checks QTest::currentTestFailed() after it.
void showAndConvertInNormal(MainWindow& w) {
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  control<QComboBox>(w, "ComboBoxOutputMode")->setCurrentIndex(0);
  QTest::mouseClick(control<QPushButton>(w, "ButtonLoad"), Qt::LeftButton);
  QCOMPARE(buttonStates(w), QStringLiteral("11111"));
}

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A colourful 320x200 picture: gradients for the mixing, hard-edged blocks for the cells.
void writeTestPicture(const QString& path) {
  QImage image(320, 200, QImage::Format_RGB32);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      int r = x * 255 / 319, g = y * 255 / 199, b = ((x + y) * 7 + 31) & 255;
      if ((x / 37 + y / 23) % 5 == 0) std::swap(r, b);
      image.setPixel(x, y, qRgb(r, g, b));
    }
  QVERIFY(image.save(path, "PNG"));
}

// Records what the preview shows at each of its paints, and the caption at that moment.
class PaintLog : public QObject {
 public:
  struct Entry {
    QString title;
    std::optional<Picture> picture;
  };
  PaintLog(MainWindow& w, QWidget* preview) : window_(w) { preview->installEventFilter(this); }
  std::vector<Entry> entries;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) entries.push_back({window_.windowTitle(), window_.output().resultImage});
    return false;
  }

 private:
  MainWindow& window_;
};


// What the window shows after a load or a save, gathered where it ran (this process or a
// child without root) and compared here.
struct Seen {
  QString title, buttons;
  bool resultKept = false, sourceKept = false;
  QStringList errors;

  QByteArray serialized() const {
    QStringList lines = {title, buttons, resultKept ? "1" : "0", sourceKept ? "1" : "0"};
    lines << errors;
    return lines.join('\n').toUtf8();
  }
  static Seen parsed(const std::string& text) {
    const QStringList lines = QString::fromStdString(text).split('\n');
    Seen s;
    if (lines.size() < 4) {
      s.title = QString::fromStdString(text);  // the child's own complaint
      return s;
    }
    s.title = lines[0], s.buttons = lines[1];
    s.resultKept = lines[2] == "1", s.sourceKept = lines[3] == "1";
    s.errors = lines.mid(4);
    return s;
  }
};

// Runs `act` here, or in a child under `limits` when it sets any; then what the window shows.
Seen actAndLook(MainWindow& w, FakeDialogs& fake, const tavrix::testing::ChildLimits& limits,
                const std::function<void()>& act) {
  const std::vector<uint32_t> result = w.output().resultImage ? w.output().resultImage->pixels : std::vector<uint32_t>();
  const std::vector<uint32_t> source = w.sourceImage() ? w.sourceImage()->pixels : std::vector<uint32_t>();
  auto look = [&] {
    fake.errors.clear();
    act();
    Seen s;
    s.title = w.windowTitle();
    s.buttons = buttonStates(w);
    s.resultKept = w.output().resultImage && w.output().resultImage->pixels == result;
    s.sourceKept = w.sourceImage() && w.sourceImage()->pixels == source;
    s.errors = fake.errors;
    return s;
  };
  if (!limits.withoutRoot && limits.fileSizeLimit < 0) return look();
  const tavrix::testing::ChildResult child =
      tavrix::testing::runInChild(limits, [&] { return look().serialized().toStdString(); });
  if (child.status != 0) return Seen{QStringLiteral("child failed with status %1").arg(child.status), {}, false, false, {}};
  return Seen::parsed(child.text);
}

QStringList folderEntries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

// Restores the settings location when a test that moved it ends, passed or not.
struct SettingsPathGuard {
  QString normal;
  ~SettingsPathGuard() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, normal); }
};
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString picture_;  // the 320x200 test picture
  std::unique_ptr<MainWindow> converted_;  // one conversion serves the three preview sizes
  QString path(const QString& name) const { return dir_.filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // Cases about permissions run as user 65534 when the tests run as root.
    QVERIFY(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                   QFile::ExeOther));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
    picture_ = path(QStringLiteral("picture.png"));
    writeTestPicture(picture_);
  }

  void init() { writeStore({}); }

  void firstStartShowsDefaultsAndWritesAllValues() {
    QPoint position;
    {
      FakeDialogs fake;
      MainWindow w(fake.dialogs());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCOMPARE(w.windowTitle(), kPrefix + "Ready");
      QCOMPARE(w.size(), QSize(640, 488));
      QCOMPARE(w.frameGeometry().center(), w.screen()->availableGeometry().center());
      position = w.pos();
      QCOMPARE(storedOrder(w.selectorIndices()), kDefaultIndices);
      QCOMPARE(buttonStates(w), QStringLiteral("10000"));
      QVERIFY(!control<QPushButton>(w, "ButtonSaveData")->isVisible());
      QVERIFY(w.close());
      QVERIFY(fake.errors.isEmpty());
    }
    const std::unique_ptr<QSettings> store = openSettingsStore();
    const QList<int> expected = {position.y(), position.x(), 648, 515, 0, 0, 0, 0, 0, 0, 0, 3};
    QCOMPARE(store->allKeys().size(), 12);
    for (int i = 0; i < 12; ++i) QCOMPARE(store->value(kSettingNames[size_t(i)]).toInt(), expected[i]);
  }

  void controlsAsDesigned_data() {
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QStringList>("texts");  // a button's caption, or a selector's items
    QTest::addColumn<int>("selected");       // -2 for buttons
    QTest::newRow("ButtonLoad") << QRect(4, 4, 98, 24) << QStringList{"Load and convert"} << -2;
    QTest::newRow("ComboBoxCrop") << QRect(4, 32, 98, 21)
                                  << QStringList{"320x200 crop", "320x200 fit", "327x207 crop", "327x207 fit"} << 0;
    QTest::newRow("ButtonConvert") << QRect(4, 60, 98, 24) << QStringList{"Convert again"} << -2;
    QTest::newRow("ComboBoxHDR") << QRect(106, 4, 140, 21)
                                 << QStringList{"No HDR processing", "Low HDR processing", "Hi HDR processing"} << 0;
    QTest::newRow("ComboBoxOversaturate")
        << QRect(106, 32, 140, 21)
        << QStringList{"Don't oversaturate", "Oversaturate low", "Oversaturate mid", "Oversaturate hi",
                       "Oversaturate max"}
        << 0;
    QTest::newRow("ComboBoxSharpen") << QRect(106, 60, 140, 21)
                                     << QStringList{"No sharpen", "Sharpen - low", "Sharpen - hi"} << 0;
    QTest::newRow("ComboBoxColorRange")
        << QRect(250, 4, 140, 21)
        << QStringList{"Normal input color range", "High input color range", "Maximum input color range"} << 0;
    QTest::newRow("ComboBoxColormap") << QRect(250, 32, 140, 21)
                                      << QStringList{"Absolute colorimetric", "Relative colorimetric"} << 0;
    QTest::newRow("ComboBoxDither") << QRect(250, 60, 140, 21)
                                    << QStringList{"No dither", "Floyd-Steinberg", "Pattern dither", "Random dither"}
                                    << 0;
    QTest::newRow("ComboBoxOutputMode")
        << QRect(394, 4, 140, 21)
        << QStringList{"Normal (8x8 colormap)", "QFLI (8x4 colormap)", "DFLI (8x2 colormap)", "XS-DFLI (8x2 colormap)"}
        << 3;
    QTest::newRow("ButtonSavePNG") << QRect(538, 4, 98, 24) << QStringList{"Save .PNG image"} << -2;
    QTest::newRow("ButtonSavePlus4") << QRect(538, 32, 98, 24) << QStringList{"Save plus4 .prg"} << -2;
    QTest::newRow("ButtonSaveData") << QRect(538, 62, 98, 24) << QStringList{"Save data only"} << -2;
  }

  void controlsAsDesigned() {
    QFETCH(QRect, geometry);
    QFETCH(QStringList, texts);
    QFETCH(int, selected);
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* panel = w.findChild<QWidget*>(QStringLiteral("Panel1"));
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), QRect(0, 400, 640, 88));
    QWidget* widget = panel->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), panel);
    QCOMPARE(widget->geometry(), geometry);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      QCOMPARE(selected, -2);
      QCOMPARE(button->text(), texts.first());
    } else {
      auto* box = qobject_cast<QComboBox*>(widget);
      QVERIFY(box);
      QVERIFY(box->isEditable());
      QStringList items;
      for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
      QCOMPARE(items, texts);
      QCOMPARE(box->currentIndex(), selected);
      QCOMPARE(box->currentText(), texts[selected]);
    }
  }

  void tabOrderFollowsThePanel() {
    MainWindow w;
    QWidget* panel = w.findChild<QWidget*>(QStringLiteral("Panel1"));
    QWidget* first = control<QPushButton>(w, "ButtonLoad");
    QStringList order;
    QWidget* at = first;
    do {
      if (at->parentWidget() == panel) order << at->objectName();
      at = at->nextInFocusChain();
    } while (at != first);
    const QStringList expected = {"ButtonLoad",         "ComboBoxCrop",       "ButtonConvert",   "ComboBoxHDR",
                                  "ComboBoxOversaturate", "ComboBoxSharpen",  "ComboBoxColorRange",
                                  "ComboBoxColormap",   "ComboBoxDither",     "ComboBoxOutputMode",
                                  "ButtonSavePNG",      "ButtonSavePlus4",    "ButtonSaveData"};
    QCOMPARE(order, expected);
  }

  void storedValuesRestored_data() {
    using Store = QList<QPair<QString, QVariant>>;
    QTest::addColumn<Store>("store");
    QTest::addColumn<QSize>("size");  // client size
    QTest::addColumn<QList<int>>("indices");
    auto full = [](QVariant width, QVariant height) {
      return Store{{"Top", 5},        {"Left", 7},   {"Width", width}, {"Height", height},
                   {"Crop", 2},       {"Sharpen", 1}, {"Oversaturate", 4}, {"HDR", 2},
                   {"ColorRange", 1}, {"Colormap", 1}, {"Dither", 3},     {"OutputMode", 0}};
    };
    const QList<int> all = {2, 1, 4, 2, 1, 1, 3, 0};
    QTest::newRow("all twelve") << full(760, 700) << QSize(752, 673) << all;
    QTest::newRow("only Top and Left") << Store{{"Top", 5}, {"Left", 7}} << QSize(640, 488) << kDefaultIndices;
    QTest::newRow("size below the minimum") << full(300, 100) << QSize(640, 488) << all;
    QTest::newRow("width below, height above the minimum") << full(600, 600) << QSize(640, 573) << all;
    QTest::newRow("most negative sizes") << full(-2147483647 - 1, -2147483647 - 1) << QSize(640, 488) << all;
    Store textHeight = full(760, 700);
    textHeight[3].second = QStringLiteral("tall");
    QTest::newRow("stops at a text value") << textHeight << QSize(752, 488) << kDefaultIndices;
    Store fraction = full(760, 700);
    fraction[6].second = QStringLiteral("2.5");  // Oversaturate
    QTest::newRow("stops at a fraction") << fraction << QSize(752, 673) << QList<int>{2, 1, 0, 0, 0, 0, 0, 3};
    Store missing = full(760, 700);
    missing.removeAt(9);  // Colormap
    QTest::newRow("stops at a missing value") << missing << QSize(752, 673) << QList<int>{2, 1, 4, 2, 1, 0, 0, 3};
    Store outOfRange = full(760, 700);
    outOfRange[4].second = 4;    // Crop has four items
    outOfRange[8].second = -1;   // ColorRange saved with typed text
    outOfRange[11].second = 99;  // OutputMode
    QTest::newRow("indices outside the lists") << outOfRange << QSize(752, 673) << QList<int>{-1, 1, 4, 2, -1, 1, 3, -1};
  }

  void storedValuesRestored() {
    using Store = QList<QPair<QString, QVariant>>;
    QFETCH(Store, store);
    QFETCH(QSize, size);
    QFETCH(QList<int>, indices);
    writeStore(store);
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), size);
    // Centred: the stored Top and Left give way.
    QCOMPARE(w.frameGeometry().center(), w.screen()->availableGeometry().center());
    QCOMPARE(storedOrder(w.selectorIndices()), indices);
    for (size_t i = 0; i < kSelectorNames.size(); ++i)
      if (indices[qsizetype(i)] == -1) {
        auto* box = control<QComboBox>(w, kSelectorNames[i]);
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QString());
      }
  }

  void typedTextSavedAsNoItem_data() {
    QTest::addColumn<int>("which");  // position in the stored order
    for (int i = 0; i < 8; ++i) QTest::newRow(kSelectorNames[size_t(i)]) << i;
  }

  void typedTextSavedAsNoItem() {
    QFETCH(int, which);
    QList<int> expected = kDefaultIndices;
    expected[which] = -1;
    {
      MainWindow w;
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QLineEdit* edit = control<QComboBox>(w, kSelectorNames[size_t(which)])->lineEdit();
      edit->selectAll();
      QTest::keyClicks(edit, QStringLiteral("zzz"));
      QCOMPARE(edit->text(), QStringLiteral("zzz"));
      QCOMPARE(storedOrder(w.selectorIndices()), expected);
      // The conversion reads the same -1 (an oversaturation of -1 means 75 %).
      QCOMPARE(settingsList(w.readSettings()), settingsList(conversionSettings(fromStoredOrder(expected))));
      QVERIFY(w.close());
    }
    QCOMPARE(openSettingsStore()->value(kSettingNames[size_t(which) + 4]).toInt(), -1);
    MainWindow again;
    QCOMPARE(storedOrder(again.selectorIndices()), expected);
    auto* box = control<QComboBox>(again, kSelectorNames[size_t(which)]);
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(box->currentText(), QString());
  }

  void unwritableSettingsGiveOneMessage() {
    // A file where the settings folder should be: no folder, no settings file.
    const QString blocked = path(QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked));
    QFile file(blocked + QStringLiteral("/tavrix"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocked);
    FakeDialogs fake;
    {
      MainWindow w(fake.dialogs());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QVERIFY(w.close());
      QVERIFY(!w.isVisible());
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
    QCOMPARE(fake.errors.size(), 1);
    QVERIFY2(fake.errors.first().contains(QStringLiteral("settings could not be saved")), qPrintable(fake.errors.first()));
  }

  void previewRectangle_data() {
    QTest::addColumn<QSize>("area");  // client width, client height - 88
    QTest::addColumn<QRect>("expected");
    QTest::newRow("design size") << QSize(640, 400) << QRect(0, 0, 640, 400);
    QTest::newRow("wide") << QSize(1000, 400) << QRect(180, 0, 640, 400);
    QTest::newRow("tall") << QSize(640, 612) << QRect(0, 106, 640, 400);
    // 641 x 200 / 320 = 400.625: rounded up, and the odd pixel of the centring goes below.
    QTest::newRow("height rounded to nearest") << QSize(641, 500) << QRect(0, 49, 641, 401);
    // 401 x 320 / 200 = 641.6: rounded up; (1000 - 642) / 2 = 179.
    QTest::newRow("width rounded to nearest") << QSize(1000, 401) << QRect(179, 0, 642, 401);
    QTest::newRow("one pixel too short") << QSize(641, 400) << QRect(0, 0, 640, 400);
  }

  void previewRectangle() {
    QFETCH(QSize, area);
    QFETCH(QRect, expected);
    QCOMPARE(previewRect(area.width(), area.height()), expected);
  }

  void fileNameRule_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "/d/photo" << ".png" << "/d/photo.png";
    QTest::newRow("capitals kept") << "/d/photo.PNG" << ".png" << "/d/photo.PNG";
    QTest::newRow("mixed case kept") << "/d/demo.Prg" << ".prg" << "/d/demo.Prg";
    QTest::newRow("second extension") << "/d/photo.png.bak" << ".png" << "/d/photo.png.bak.png";
    QTest::newRow("other program's extension") << "/d/demo.png" << ".prg" << "/d/demo.png.prg";
    QTest::newRow("dot in a folder name") << "/d/v1.png/photo" << ".png" << "/d/v1.png/photo.png";
    QTest::newRow("trailing dot") << "/d/photo." << ".png" << "/d/photo..png";
    QTest::newRow("hidden-file name") << "/d/.png" << ".png" << "/d/.png";
  }

  void fileNameRule() {
    QFETCH(QString, chosen);
    QFETCH(QString, extension);
    QFETCH(QString, written);
    QCOMPARE(withExtension(chosen, extension), written);
  }

  void loadShowsEachStage() {
    FakeDialogs fake;
    fake.openAnswer = picture_;
    MainWindow w(fake.dialogs());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QComboBox>(w, "ComboBoxOutputMode")->setCurrentIndex(0);  // Normal: 25 groups of 8 rows
    QCOMPARE(buttonStates(w), QStringLiteral("10000"));

    QStringList titles, statesAtTitle;
    connect(&w, &QWidget::windowTitleChanged, this, [&](const QString& title) {
      titles << title.mid(kPrefix.size());
      statesAtTitle << buttonStates(w);
      QVERIFY(title.startsWith(kPrefix));
    });
    PaintLog paints(w, w.findChild<QWidget*>(QStringLiteral("Preview")));

    // Posted before the click, it can only run at a pump point: the first is "Loading image.",
    // after the buttons are off.
    QString titleAtFirstPump, statesAtFirstPump;
    QTimer::singleShot(0, &w, [&] {
      titleAtFirstPump = w.windowTitle();
      statesAtFirstPump = buttonStates(w);
    });
    QTest::mouseClick(control<QPushButton>(w, "ButtonLoad"), Qt::LeftButton);
    QCOMPARE(titleAtFirstPump, kPrefix + "Loading image.");
    QCOMPARE(statesAtFirstPump, QStringLiteral("00000"));

    QVERIFY(fake.errors.isEmpty());
    QCOMPARE(fake.openFilters.size(), 1);
    for (const char* pattern : {"*.png", "*.jpg", "*.jpeg", "*.bmp", "*.gif", "*.tif", "*.tiff", "*.webp", "*.ico"})
      QVERIFY2(fake.openFilters.first().contains(QLatin1String(pattern)), pattern);

    QStringList expected = {"Loading image.", "Converting to color profile.", "Generating conversion buffers.",
                            "calculating error table 1", "calculating error table 2"};
    for (int g = 1; g <= 25; ++g) expected << QStringLiteral("Conversion progress: %1 / 25").arg(g);
    expected << "Ready";
    QCOMPARE(titles, expected);
    for (int i = 0; i < titles.size() - 1; ++i) QCOMPARE(statesAtTitle[i], QStringLiteral("00000"));
    QCOMPARE(statesAtTitle.last(), QStringLiteral("11111"));
    QCOMPARE(buttonStates(w), QStringLiteral("11111"));
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");

    // What the preview showed, in order: the source, the candidate preview, the rows after
    // every group of 8, the result.
    // A 320x200 picture is taken over as it is.
    const Picture& source = *w.sourceImage();
    const Picture& result = *w.output().resultImage;
    const QImage file(picture_);
    QCOMPARE(source.width, 320);
    QCOMPARE(source.height, 200);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x) QCOMPARE(source.at(x, y), file.pixel(x, y) & 0xFFFFFFu);
    QStringList shown;
    std::vector<const Picture*> pictures;
    for (const PaintLog::Entry& e : paints.entries)
      if (e.picture) {
        shown << e.title;
        pictures.push_back(&*e.picture);
      }
    QVERIFY(pictures.size() >= 28);
    QCOMPARE(shown.first(), QStringLiteral("tavrix v0.4.2.6 - Converting to color profile."));
    QVERIFY(pictures.front()->pixels == source.pixels);
    QCOMPARE(shown[1], shown.first());
    QVERIFY(pictures[1]->pixels != source.pixels);  // the candidate preview
    qsizetype from = 2;
    for (int g = 1; g <= 25; ++g) {
      const qsizetype at = shown.indexOf(kPrefix + QStringLiteral("Conversion progress: %1 / 25").arg(g), from);
      QVERIFY2(at >= 0, qPrintable(QStringLiteral("no repaint after group %1").arg(g)));
      // Rows of finished groups are final; the rows below still show the candidate preview.
      const Picture& p = *pictures[size_t(at)];
      const Picture& candidates = *pictures[1];
      QVERIFY(std::equal(p.row(0), p.row(8 * g), result.row(0)));
      QVERIFY(std::equal(p.row(8 * g), p.row(0) + 320 * 200, candidates.row(8 * g)));
      from = at + 1;
    }
    QCOMPARE(shown.last(), kPrefix + "Ready");
    QVERIFY(pictures.back()->pixels == result.pixels);
  }

  void savesMatchCli() {
    FakeDialogs fake;
    fake.openAnswer = picture_;
    MainWindow w(fake.dialogs());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A different choice in every selector where the lists allow.
    const std::array<int, 8> choice = {2, 1, 3, 2, 2, 1, 1, 2};  // stored order, Crop to OutputMode
    for (size_t i = 0; i < choice.size(); ++i) control<QComboBox>(w, kSelectorNames[i])->setCurrentIndex(choice[i]);
    QTest::mouseClick(control<QPushButton>(w, "ButtonLoad"), Qt::LeftButton);
    QCOMPARE(buttonStates(w), QStringLiteral("11111"));

    fake.saveAnswers = {path("gui-result"), path("gui-result.PRG"), path("folder.png")};
    QTest::mouseClick(control<QPushButton>(w, "ButtonSavePNG"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(w, "ButtonSavePlus4"), Qt::LeftButton);
    QVERIFY(fake.errors.isEmpty());
    QCOMPARE(fake.saveFilters, (QStringList{"Portable Network Graphics (*.png)", ".prg files (*.prg)"}));

    QProcess cli;
    cli.start(QStringLiteral(TAVRIX_CLI),
              {"--quiet", "--crop", "327x207-crop", "--sharpen", "low", "--oversaturate", "hi", "--hdr", "hi",
               "--color-range", "max", "--colormap", "relative", "--dither", "floyd-steinberg", "--mode", "dfli",
               "--png", path("cli.png"), "--prg", path("cli.prg"), picture_});
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitCode(), 0);

    const QByteArray prg = fileBytes(path("gui-result.PRG"));
    QCOMPARE(prg.size(), 28650);
    QVERIFY(prg == fileBytes(path("cli.prg")));
    const QByteArray png = fileBytes(path("gui-result.png"));
    QVERIFY(!png.isEmpty());
    QVERIFY(png == fileBytes(path("cli.png")));

    // The extended name is offered next time; a folder cannot be written over.
    QVERIFY(QDir().mkpath(path("folder.png")));
    QTest::mouseClick(control<QPushButton>(w, "ButtonSavePNG"), Qt::LeftButton);
    QCOMPARE(fake.saveLastNames.last(), path("gui-result.png"));
    QCOMPARE(fake.errors.size(), 1);
    QVERIFY2(fake.errors.first().contains(path("folder.png")), qPrintable(fake.errors.first()));
    QCOMPARE(buttonStates(w), QStringLiteral("11111"));
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");

    // Cancelling writes nothing and asks nothing more.
    QTest::mouseClick(control<QPushButton>(w, "ButtonSavePlus4"), Qt::LeftButton);
    QCOMPARE(fake.saveLastNames.last(), path("gui-result.PRG"));
    QCOMPARE(fake.errors.size(), 1);
  }

  void previewPaintedByNearestPixel_data() {
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("picture");
    QTest::newRow("design size") << QSize(640, 488) << QRect(0, 0, 640, 400);
    QTest::newRow("wide") << QSize(1000, 488) << QRect(180, 0, 640, 400);
    QTest::newRow("tall") << QSize(640, 700) << QRect(0, 106, 640, 400);
  }

  void previewPaintedByNearestPixel() {
    QFETCH(QSize, client);
    QFETCH(QRect, picture);
    std::unique_ptr<MainWindow>& w = converted_;
    if (!w) {
      w = std::make_unique<MainWindow>();
      w->show();
      QVERIFY(QTest::qWaitForWindowExposed(w.get()));
      control<QComboBox>(*w, "ComboBoxOutputMode")->setCurrentIndex(0);
      w->loadAndConvert(picture_);  // as the command line does
      QCOMPARE(w->windowTitle(), kPrefix + "Ready");
    }
    w->resize(client);
    QTRY_COMPARE(w->size(), client);
    QWidget* preview = w->findChild<QWidget*>(QStringLiteral("Preview"));
    QCOMPARE(preview->geometry(), QRect(0, 0, client.width(), client.height() - 88));

    const QImage shot = w->grab(preview->geometry()).toImage();
    const Picture& result = *w->output().resultImage;
    const QRgb background = w->palette().color(QPalette::Window).rgb();
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        // A 2x enlargement: each picture pixel covers exactly 2x2 window pixels.
        const QRgb want = picture.contains(x, y)
                              ? 0xFF000000u | result.at((x - picture.left()) / 2, (y - picture.top()) / 2)
                              : background;
        if (shot.pixel(x, y) != want)
          QFAIL(qPrintable(QStringLiteral("window pixel (%1, %2) is %3, not %4")
                               .arg(x).arg(y).arg(shot.pixel(x, y), 8, 16).arg(want, 8, 16)));
      }
  }

  // Every kind of bad file through the open dialog, after a finished conversion: one
  // message naming the file and the reason, and the window as it was. Pictures at the
  // edges convert.
  void badFileKeepsTheWindowAsItWas_data() {
    QTest::addColumn<int>("which");
    const auto& inputs = tavrix::testing::badInputs();
    for (size_t i = 0; i < inputs.size(); ++i) QTest::newRow(inputs[i].kind.c_str()) << int(i);
  }

  void badFileKeepsTheWindowAsItWas() {
    QFETCH(int, which);
    const tavrix::testing::BadInput& input = tavrix::testing::badInputs()[size_t(which)];
    if (input.needsUnprivileged && !tavrix::testing::canDropRoot()) QSKIP("this system does not let a child become user 65534");
    const QString folder = path(QStringLiteral("bad-") + QString::fromStdString(input.kind));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::permissions(dir_.path())));

    FakeDialogs fake;
    fake.openAnswer = picture_;
    MainWindow w(fake.dialogs());
    showAndConvertInNormal(w);
    if (QTest::currentTestFailed()) return;
    QVERIFY(fake.errors.isEmpty());

    const QString bad = QFile::decodeName(QByteArray::fromStdString(input.make(folder.toStdString())));
    fake.openAnswer = bad;
    const Seen seen = actAndLook(w, fake, {input.needsUnprivileged, -1},
                                 [&] { QTest::mouseClick(control<QPushButton>(w, "ButtonLoad"), Qt::LeftButton); });
    qInfo("%s: %s", input.kind.c_str(), qPrintable(seen.errors.join(" | ")));
    QCOMPARE(seen.title, kPrefix + "Ready");
    QCOMPARE(seen.buttons, QStringLiteral("11111"));
    if (input.reason.empty()) {
      QCOMPARE(seen.errors, QStringList());
      QVERIFY(!seen.sourceKept);
      QVERIFY(!seen.resultKept);
      QCOMPARE(w.sourceImage()->width, 320);
      QCOMPARE(w.output().resultImage->width, 320);
      QCOMPARE(w.output().prgImage.length, 12098);
      return;
    }
    QCOMPARE(seen.errors.size(), 1);
    const QString expected = bad + ": " + QString::fromStdString(input.reason);
    QVERIFY2(seen.errors.first().startsWith(expected), qPrintable(seen.errors.first() + " / " + expected));
    QVERIFY(seen.sourceKept);
    QVERIFY(seen.resultKept);
  }

  // A save that fails: one message with the file and the system's reason, no file damaged,
  // no temporary left, and both buttons still save to a good place.
  void failedSaveKeepsFilesAndTheWindow_data() {
    QTest::addColumn<QString>("place");  // under the row's folder: where the failing saves go
    QTest::addColumn<int>("error");
    QTest::newRow("read-only folder") << "ro" << int(EACCES);
    QTest::newRow("full disk") << "disk" << 0;  // ENOSPC, or EFBIG under the stand-in limit
    QTest::newRow("name of a folder") << "folders" << int(EISDIR);
    QTest::newRow("folder does not exist") << "missing" << int(ENOENT);
  }

  void failedSaveKeepsFilesAndTheWindow() {
    QFETCH(QString, place);
    QFETCH(int, error);
    const QString row = path(QStringLiteral("save-") + place);
    const QString good = row + "/good";
    QVERIFY(QDir().mkpath(good));
    QVERIFY(QFile::setPermissions(row, QFile::permissions(dir_.path())));
    tavrix::testing::handToNobody(good.toStdString());

    std::optional<tavrix::testing::TinyDisk> disk;
    tavrix::testing::ChildLimits limits;
    QString target = row + "/" + place;  // the folder of result.png and result.prg
    if (place == "ro") {
      if (!tavrix::testing::canDropRoot()) QSKIP("this system does not let a child become user 65534");
      QVERIFY(QDir().mkpath(target));
      limits.withoutRoot = true;
    } else if (place == "disk") {
      disk.emplace((row + "/disk").toStdString());
      target = QString::fromStdString(disk->dir().string());
      limits = disk->limits();
      error = disk->error();
      qInfo("full disk: %s", disk->method());
    } else if (place == "folders") {
      QVERIFY(QDir().mkpath(target + "/result.png"));
      QVERIFY(QDir().mkpath(target + "/result.prg"));
      writeBytes(target + "/result.png/inside", "keep");
    }
    const bool existing = place == "ro" || place == "disk";
    if (existing) {
      writeBytes(target + "/result.png", "earlier png");
      writeBytes(target + "/result.prg", "earlier prg");
    }
    if (place == "ro") {
      QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::ExeOther));
    }
    const QStringList before = folderEntries(target);

    FakeDialogs fake;
    fake.openAnswer = picture_;
    MainWindow w(fake.dialogs());
    showAndConvertInNormal(w);
    if (QTest::currentTestFailed()) return;

    fake.saveAnswers = {target + "/result.png", target + "/result.prg", good + "/again.png", good + "/again.prg"};
    QStringList errorsAfterFailures;
    const Seen seen = actAndLook(w, fake, limits, [&] {
      QTest::mouseClick(control<QPushButton>(w, "ButtonSavePNG"), Qt::LeftButton);
      QTest::mouseClick(control<QPushButton>(w, "ButtonSavePlus4"), Qt::LeftButton);
      // The second pair must work: the failures left nothing stuck.
      QTest::mouseClick(control<QPushButton>(w, "ButtonSavePNG"), Qt::LeftButton);
      QTest::mouseClick(control<QPushButton>(w, "ButtonSavePlus4"), Qt::LeftButton);
    });
    qInfo("%s: %s", qPrintable(place), qPrintable(seen.errors.join(" | ")));
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    QCOMPARE(seen.errors, (QStringList{target + "/result.png: " + reason, target + "/result.prg: " + reason}));
    QCOMPARE(seen.title, kPrefix + "Ready");
    QCOMPARE(seen.buttons, QStringLiteral("11111"));
    QVERIFY(seen.resultKept);

    if (existing) {
      QCOMPARE(fileBytes(target + "/result.png"), QByteArray("earlier png"));
      QCOMPARE(fileBytes(target + "/result.prg"), QByteArray("earlier prg"));
    }
    if (place == "folders") QCOMPARE(fileBytes(target + "/result.png/inside"), QByteArray("keep"));
    QCOMPARE(folderEntries(target), before);  // no temporary left behind
    QCOMPARE(fileBytes(good + "/again.prg").size(), 12098);
    QCOMPARE(QImage(good + "/again.png").size(), QSize(320, 200));
  }

  // Whatever the settings file holds, the window starts; reading stops at the first value
  // that is missing or no int, and it and the rest keep their defaults.
  void settingsFileGarbage_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("size");  // client size
    QTest::addColumn<QList<int>>("indices");
    const QByteArray values =
        "Top=5\nLeft=7\nWidth=760\nHeight=700\nCrop=2\nSharpen=1\nOversaturate=4\nHDR=2\n"
        "ColorRange=1\nColormap=1\nDither=3\nOutputMode=0\n";
    const QList<int> all = {2, 1, 4, 2, 1, 1, 3, 0};
    const QSize stored(752, 673), design(640, 488);
    auto replaced = [&](const char* from, const char* to) { return QByteArray(values).replace(from, to); };
    QByteArray garbage(4096, '\0');
    std::mt19937 random(11);
    for (char& c : garbage) c = char(random());

    // The hand-written file is read as the window writes it.
    QTest::newRow("all twelve, hand-written") << "[General]\n" + values << stored << all;
    QTest::newRow("no section line") << values << stored << all;
    QTest::newRow("binary garbage") << garbage << design << kDefaultIndices;
    QTest::newRow("garbage after the values") << values + garbage << stored << all;
    QTest::newRow("Top beyond int range") << replaced("Top=5", "Top=99999999999999999999") << design << kDefaultIndices;
    QTest::newRow("Width 2^31") << replaced("Width=760", "Width=2147483648") << design << kDefaultIndices;
    QTest::newRow("Crop below int range") << replaced("Crop=2", "Crop=-2147483649") << stored << kDefaultIndices;
    QTest::newRow("Dither 2^32 + 3") << replaced("Dither=3", "Dither=4294967299") << stored
                                     << QList<int>{2, 1, 4, 2, 1, 1, 0, 3};
    QTest::newRow("Height without '='") << replaced("Height=700", "Height 700") << QSize(752, 488) << kDefaultIndices;
    QTest::newRow("HDR as '=2'") << replaced("HDR=2", "=2") << stored << QList<int>{2, 1, 4, 0, 0, 0, 0, 3};
    QTest::newRow("values in another section") << "[tavrix]\n" + values << design << kDefaultIndices;
    // Qt reads the keys under an unclosed "[General" as General's.
    QTest::newRow("section line cut off") << "[General\n" + values << stored << all;
    QTest::newRow("another section midway") << replaced("Crop=2", "[Other]\nCrop=2") << stored << kDefaultIndices;
  }

  void settingsFileGarbage() {
    QFETCH(QByteArray, content);
    QFETCH(QSize, size);
    QFETCH(QList<int>, indices);
    SettingsPathGuard guard{path(QStringLiteral("config"))};
    const QString folder = path(QStringLiteral("settings-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
    QVERIFY(QDir().mkpath(folder + "/tavrix"));
    writeBytes(folder + "/tavrix/tavrix.conf", content);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);

    FakeDialogs fake;
    QList<int> shown;
    {
      MainWindow w(fake.dialogs());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCOMPARE(w.size(), size);
      QCOMPARE(storedOrder(w.selectorIndices()), indices);
      QVERIFY(w.close());
    }
    // Closing writes a whole file again, which the next start reads.
    QVERIFY(fake.errors.isEmpty());
    MainWindow again(fake.dialogs());
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), size);
    QCOMPARE(storedOrder(again.selectorIndices()), indices);
  }

  // A settings file the window cannot read: it starts with every default, and closing
  // gives at most one message.
  void settingsFileUnusable_data() {
    QTest::addColumn<bool>("unreadable");  // false: the settings file is a folder
    QTest::newRow("a folder") << false;
    QTest::newRow("unreadable") << true;
  }

  void settingsFileUnusable() {
    QFETCH(bool, unreadable);
    if (unreadable && !tavrix::testing::canDropRoot()) QSKIP("this system does not let a child become user 65534");
    SettingsPathGuard guard{path(QStringLiteral("config"))};
    const QString folder = path(unreadable ? QStringLiteral("settings-unreadable") : QStringLiteral("settings-folder"));
    const QString file = folder + "/tavrix/tavrix.conf";
    QVERIFY(QDir().mkpath(folder + "/tavrix"));
    QVERIFY(QFile::setPermissions(folder, QFile::permissions(dir_.path())));
    QVERIFY(QFile::setPermissions(folder + "/tavrix", QFile::permissions(dir_.path())));
    if (unreadable) {
      writeBytes(file, "[General]\nTop=5\nLeft=7\nWidth=760\nHeight=700\nCrop=2\n");
      QVERIFY(QFile::setPermissions(file, {}));
    } else {
      QVERIFY(QDir().mkpath(file));
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);

    // The window is made and closed where the file is unreadable (a child without root).
    auto startAndClose = [&]() -> std::string {
      FakeDialogs fake;
      MainWindow w(fake.dialogs());
      w.show();
      if (!QTest::qWaitForWindowExposed(&w)) return "not exposed";
      QStringList indices;
      for (int i : storedOrder(w.selectorIndices())) indices << QString::number(i);
      w.close();
      return QStringLiteral("%1x%2\n%3\n%4").arg(w.width()).arg(w.height()).arg(indices.join(',')).arg(fake.errors.join(" | "))
          .toStdString();
    };
    const std::string text = unreadable ? tavrix::testing::runInChild({true, -1}, startAndClose).text : startAndClose();
    const QStringList lines = QString::fromStdString(text).split('\n');
    qInfo("%s", qPrintable(lines.join(" / ")));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("640x488"));
    QCOMPARE(lines[1], QStringLiteral("0,0,0,0,0,0,0,3"));
    QVERIFY2(lines[2].isEmpty() || (!lines[2].contains(" | ") && lines[2].contains("settings could not be saved")),
             qPrintable(lines[2]));
    if (!unreadable) {
      QVERIFY(QFileInfo(file).isDir());
      QVERIFY2(lines[2].contains("settings could not be saved"), qPrintable(lines[2]));
    }
  }

  void cleanupTestCase() { converted_.reset(); }

  void failuresLeaveAUsableWindow() {
    const QString broken = path(QStringLiteral("broken.png"));
    {
      QFile f(broken);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("this is no picture\n");
    }
    FakeDialogs fake;
    fake.openAnswer = broken;
    MainWindow w(fake.dialogs());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QComboBox>(w, "ComboBoxOutputMode")->setCurrentIndex(0);
    auto load = [&] { QTest::mouseClick(control<QPushButton>(w, "ButtonLoad"), Qt::LeftButton); };

    // Nothing loaded yet: only loading is possible after the message.
    load();
    QCOMPARE(fake.errors.size(), 1);
    QVERIFY2(fake.errors.last().contains(broken), qPrintable(fake.errors.last()));
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");
    QCOMPARE(buttonStates(w), QStringLiteral("10000"));
    QVERIFY(!w.sourceImage());

    // A dropped picture loads and converts.
    QMimeData text;
    text.setText(QStringLiteral("no file"));
    QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &textEnter);
    QVERIFY(!textEnter.isAccepted());
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(picture_)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QTRY_COMPARE_WITH_TIMEOUT(buttonStates(w), QStringLiteral("11111"), 60000);
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");
    const std::vector<uint32_t> converted = w.output().resultImage->pixels;

    // A failed load keeps the source and the finished result, and everything stays usable.
    load();
    QCOMPARE(fake.errors.size(), 2);
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");
    QCOMPARE(buttonStates(w), QStringLiteral("11111"));
    QVERIFY(w.output().resultImage->pixels == converted);

#if defined(Q_OS_LINUX) && !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves terabytes of address space
    // A conversion that runs out of memory overwrites the result: nothing left to save.
    // (The buffers kept from the last conversion go back first, so it must map fresh ones.)
    tavrix::releaseKeptBuffers();
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
    long long usedKb = 0;
    {
      QFile status(QStringLiteral("/proc/self/status"));
      QVERIFY(status.open(QIODevice::ReadOnly));
      for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:")) usedKb = line.mid(7).trimmed().split(' ').first().toLongLong();
    }
    QVERIFY(usedKb > 0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(usedKb + 32 * 1024) * 1024;  // far below the 65 MB error table
    QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
    QTest::mouseClick(control<QPushButton>(w, "ButtonConvert"), Qt::LeftButton);
    QCOMPARE(setrlimit(RLIMIT_AS, &old), 0);
    QCOMPARE(fake.errors.size(), 3);
    QCOMPARE(fake.errors.last(), QStringLiteral("Not enough memory to convert the picture."));
    QCOMPARE(w.windowTitle(), kPrefix + "Ready");
    QCOMPARE(buttonStates(w), QStringLiteral("11000"));

    QTest::mouseClick(control<QPushButton>(w, "ButtonConvert"), Qt::LeftButton);
    QCOMPARE(fake.errors.size(), 3);
    QCOMPARE(buttonStates(w), QStringLiteral("11111"));
    QVERIFY(w.output().resultImage->pixels == converted);
#endif
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
