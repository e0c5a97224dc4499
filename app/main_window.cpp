#include "app/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <new>

#include "app/io/image_io.h"
#include "app/preview.h"
#include "app/settings_store.h"

namespace tavrix {
namespace {

// The stored "Width" and "Height" are outer sizes: the client area plus a frame of 4 px
// borders and a 23 px caption bar. A constant rather than the window manager's frame keeps
// the values the same on every desktop, and makes the minimum outer size of 648x515 exactly
// the design client size of 640x488.
constexpr QSize kFrameAllowance{8, 27};
constexpr QSize kMinimumOuterSize{648, 515};

// A stored outer size as a client size, in the range resize() accepts.
int clientExtent(int outer, int frame) { return int(std::clamp<int64_t>(int64_t(outer) - frame, 0, QWIDGETSIZE_MAX)); }

// A stored position, at most as far out as the widest window is wide: further out, the right or
// bottom edge of the window would not fit in an int. The first showing centres the window anyway.
int windowCoordinate(int stored) { return std::clamp(stored, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX); }

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString firstLocalFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return QString();
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return QString();
}

}  // namespace

MainWindow::MainWindow(Dialogs dialogs, QWidget* parent)
    : QWidget(parent),
      dialogs_(std::move(dialogs)),
      // Seeded once per run; "Random dither" carries on from one conversion to the next.
      random_(uint64_t(std::chrono::system_clock::now().time_since_epoch().count())),
      statusPrefix_(QStringLiteral("tavrix v" TAVRIX_VERSION " - ")) {
  // Where Tahoma is missing, the font matcher picks a similar sans serif at the same size.
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);
  setMinimumSize(kMinimumOuterSize - kFrameAllowance);
  resize(kDesignSize);
  setAcceptDrops(true);
  createControls();
  restoreSettings();
  showStatus("Ready", Pump::No);
  // Qt widgets paint through the window's back buffer already: no flicker to switch off.
}

void MainWindow::createControls() {
  preview_ = new PreviewArea(output_.resultImage, this);
  preview_->setObjectName(QStringLiteral("Preview"));
  panel_ = new QWidget(this);
  panel_->setObjectName(QStringLiteral("Panel1"));

  // Created in tab order; the positions are fixed inside the panel.
  auto button = [this](const char* name, const char* text, QRect geometry) {
    auto* b = new QPushButton(QString::fromLatin1(text), panel_);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    return b;
  };
  auto selector = [this](const char* name, QRect geometry, std::initializer_list<const char*> items, int initial) {
    auto* c = new QComboBox(panel_);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(geometry);
    // Text can be typed in, as in any drop-down with an edit field; it never becomes an item.
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : items) c->addItem(QString::fromLatin1(item));
    c->setCurrentIndex(initial);
    // A long item shows its beginning, not the end where the cursor was left.
    connect(c, &QComboBox::currentIndexChanged, c, [c] { c->lineEdit()->setCursorPosition(0); });
    c->lineEdit()->setCursorPosition(0);
    return c;
  };

  buttonLoad_ = button("ButtonLoad", "Load and convert", {4, 4, 98, 24});
  comboCrop_ = selector("ComboBoxCrop", {4, 32, 98, 21},
                        {"320x200 crop", "320x200 fit", "327x207 crop", "327x207 fit"}, 0);
  buttonConvert_ = button("ButtonConvert", "Convert again", {4, 60, 98, 24});
  comboHdr_ = selector("ComboBoxHDR", {106, 4, 140, 21},
                       {"No HDR processing", "Low HDR processing", "Hi HDR processing"}, 0);
  comboOversaturate_ = selector("ComboBoxOversaturate", {106, 32, 140, 21},
                                {"Don't oversaturate", "Oversaturate low", "Oversaturate mid", "Oversaturate hi",
                                 "Oversaturate max"},
                                0);
  comboSharpen_ = selector("ComboBoxSharpen", {106, 60, 140, 21}, {"No sharpen", "Sharpen - low", "Sharpen - hi"}, 0);
  comboColorRange_ = selector("ComboBoxColorRange", {250, 4, 140, 21},
                              {"Normal input color range", "High input color range", "Maximum input color range"}, 0);
  comboColormap_ = selector("ComboBoxColormap", {250, 32, 140, 21}, {"Absolute colorimetric", "Relative colorimetric"}, 0);
  comboDither_ = selector("ComboBoxDither", {250, 60, 140, 21},
                          {"No dither", "Floyd-Steinberg", "Pattern dither", "Random dither"}, 0);
  comboOutputMode_ = selector("ComboBoxOutputMode", {394, 4, 140, 21},
                              {"Normal (8x8 colormap)", "QFLI (8x4 colormap)", "DFLI (8x2 colormap)",
                               "XS-DFLI (8x2 colormap)"},
                              3);
  buttonSavePng_ = button("ButtonSavePNG", "Save .PNG image", {538, 4, 98, 24});
  buttonSavePlus4_ = button("ButtonSavePlus4", "Save plus4 .prg", {538, 32, 98, 24});
  buttonSaveData_ = button("ButtonSaveData", "Save data only", {538, 62, 98, 24});
  buttonSaveData_->setVisible(false);  // kept for the button order the converter switches

  buttonConvert_->setEnabled(false);
  buttonSavePng_->setEnabled(false);
  buttonSavePlus4_->setEnabled(false);
  buttonSaveData_->setEnabled(false);

  connect(buttonLoad_, &QPushButton::clicked, this, &MainWindow::buttonLoadClick);
  connect(buttonConvert_, &QPushButton::clicked, this, &MainWindow::buttonConvertClick);
  connect(buttonSavePng_, &QPushButton::clicked, this, &MainWindow::buttonSavePngClick);
  connect(buttonSavePlus4_, &QPushButton::clicked, this, &MainWindow::buttonSavePlus4Click);
}

std::array<QComboBox*, 8> MainWindow::storedSelectors() const {
  return {comboCrop_,       comboSharpen_,  comboOversaturate_, comboHdr_,
          comboColorRange_, comboColormap_, comboDither_,       comboOutputMode_};
}

// ---- Settings ----

void MainWindow::restoreSettings() { applyStoredValues(readStoredValues(*openSettingsStore())); }

void MainWindow::applyStoredValues(const std::vector<int>& values) {
  for (size_t i = 0; i < values.size() && i < kSettingNames.size(); ++i) applySetting(int(i), values[i]);
}

void MainWindow::applySetting(int which, int value) {
  switch (which) {
    case 0: move(x(), windowCoordinate(value)); break;
    case 1: move(windowCoordinate(value), y()); break;
    // resize() holds the minimum size, which raises a stored size below it.
    case 2: resize(clientExtent(value, kFrameAllowance.width()), height()); break;
    case 3: resize(width(), clientExtent(value, kFrameAllowance.height())); break;
    default: {
      QComboBox* box = storedSelectors()[size_t(which - 4)];
      box->setCurrentIndex(value >= 0 && value < box->count() ? value : -1);
    }
  }
}

void MainWindow::saveSettings() {
  const std::unique_ptr<QSettings> store = openSettingsStore();
  const std::array<int, 4> frame = {y(), x(), width() + kFrameAllowance.width(),
                                    height() + kFrameAllowance.height()};
  const SelectorIndices s = selectorIndices();
  const std::array<int, 8> indices = {s.crop,       s.sharpen,  s.oversaturate, s.hdr,
                                      s.colorRange, s.colormap, s.dither,       s.outputMode};
  static_assert(frame.size() + indices.size() == kSettingNames.size());
  for (size_t i = 0; i < kSettingNames.size(); ++i)
    store->setValue(QString::fromLatin1(kSettingNames[i]), i < 4 ? frame[i] : indices[i - 4]);
  store->sync();
  if (store->status() != QSettings::NoError)
    dialogs_.showError(this, QStringLiteral("The settings could not be saved in %1.").arg(store->fileName()));
}

// The whole window, frame included, goes to the middle of the screen's work area.
void MainWindow::centreOnScreen() {
  const QScreen* s = screen();
  if (!s) return;
  QRect outer = frameGeometry();
  outer.moveCenter(s->availableGeometry().center());
  move(outer.topLeft());
}

SelectorIndices MainWindow::selectorIndices() const {
  // Typed text that is not the selected item's leaves no item selected.
  auto index = [](const QComboBox* box) {
    const int i = box->currentIndex();
    return i >= 0 && box->currentText() == box->itemText(i) ? i : -1;
  };
  SelectorIndices s;
  s.crop = index(comboCrop_);
  s.hdr = index(comboHdr_);
  s.oversaturate = index(comboOversaturate_);
  s.sharpen = index(comboSharpen_);
  s.colorRange = index(comboColorRange_);
  s.colormap = index(comboColormap_);
  s.dither = index(comboDither_);
  s.outputMode = index(comboOutputMode_);
  return s;
}

// ---- Host ----

ConversionSettings MainWindow::readSettings() { return conversionSettings(selectorIndices()); }

void MainWindow::setButtonsEnabled(bool enabled) {
  for (QPushButton* b : {buttonLoad_, buttonConvert_, buttonSavePng_, buttonSavePlus4_, buttonSaveData_})
    b->setEnabled(enabled);
}

void MainWindow::showStatus(const std::string& text, Pump pump) {
  setWindowTitle(statusPrefix_ + QString::fromStdString(text));
  if (pump == Pump::Yes) QCoreApplication::processEvents();
}

void MainWindow::repaint() { preview_->repaint(); }

// ---- Window events ----

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The first showing centres the window, so a stored "Top" and "Left" give way.
  if (!centred_) {
    centred_ = true;
    centreOnScreen();
  }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int top = height() - kPanelHeight;
  preview_->setGeometry(0, 0, width(), top);
  panel_->setGeometry(0, top, width(), kPanelHeight);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closes even when the settings cannot be written: a window that refused to close over
  // an unwritable settings file could never be closed.
  saveSettings();
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (buttonLoad_->isEnabled() && !firstLocalFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = firstLocalFile(event->mimeData());
  if (path.isEmpty() || !buttonLoad_->isEnabled()) return;
  event->acceptProposedAction();
  // Loading after the drop has finished frees the file manager at once.
  QTimer::singleShot(0, this, [this, path] { loadAndConvert(path); });
}

// ---- Buttons ----

void MainWindow::buttonLoadClick() {
  const QString path = dialogs_.openPicture(this, openPictureFilter());
  if (!path.isEmpty()) loadAndConvert(path);
}

void MainWindow::loadAndConvert(const QString& path) {
  if (!buttonLoad_->isEnabled()) return;
  setButtonsEnabled(false);
  const int crop = selectorIndices().crop;
  // The pump comes after the buttons are off, so no queued click starts a second load.
  showStatus("Loading image.", Pump::Yes);
  try {
    Picture prepared = prescale(loadPicture(localPath(path)), crop);
    source_ = std::move(prepared);  // the previous source goes only once the new one is ready
  } catch (const std::bad_alloc&) {
    recoverFrom(QStringLiteral("Not enough memory to load %1.").arg(path));
    return;
  } catch (const std::exception& e) {
    recoverFrom(QString::fromStdString(e.what()));
    return;
  }
  convert();
}

void MainWindow::buttonConvertClick() { convert(); }

void MainWindow::convert() {
  if (!source_) return;
  try {
    Converter(*this, random_).run(*source_, output_);
  } catch (const std::bad_alloc&) {
    recoverFrom(QStringLiteral("Not enough memory to convert the picture."));
  } catch (const std::exception& e) {
    recoverFrom(QString::fromStdString(e.what()));
  }
}

bool MainWindow::conversionFinished() const { return output_.resultImage && output_.prgImage.length > 0; }

// After a failed load or conversion the window stays usable: loading is always possible,
// converting again once there is a source, saving only what a finished conversion made.
void MainWindow::recoverFrom(const QString& message) {
  dialogs_.showError(this, message);
  showStatus("Ready", Pump::No);
  buttonLoad_->setEnabled(true);
  buttonConvert_->setEnabled(source_.has_value());
  for (QPushButton* b : {buttonSavePng_, buttonSavePlus4_, buttonSaveData_}) b->setEnabled(conversionFinished());
  preview_->update();
}

void MainWindow::buttonSavePngClick() {
  if (!conversionFinished()) return;
  const QString chosen = dialogs_.saveFile(this, kPngFilter, lastPngName_);
  if (chosen.isEmpty()) return;
  lastPngName_ = withExtension(chosen, QStringLiteral(".png"));
  try {
    savePng(*output_.resultImage, localPath(lastPngName_));
  } catch (const std::exception& e) {
    dialogs_.showError(this, QString::fromStdString(e.what()));
  }
}

void MainWindow::buttonSavePlus4Click() {
  if (!conversionFinished()) return;
  const QString chosen = dialogs_.saveFile(this, kPrgFilter, lastPrgName_);
  if (chosen.isEmpty()) return;
  lastPrgName_ = withExtension(chosen, QStringLiteral(".prg"));
  try {
    savePrg(output_.prgImage, localPath(lastPrgName_));
  } catch (const std::exception& e) {
    dialogs_.showError(this, QString::fromStdString(e.what()));
  }
}

}  // namespace tavrix
