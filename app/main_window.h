#pragma once
// The window: the preview above a panel of buttons and option selectors. It wires the
// controls to the loader, the converter and the writers, and is the converter's Host.
#include <QString>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

#include "app/dialogs.h"
#include "convert/converter.h"
#include "convert/random.h"

class QComboBox;
class QPushButton;

namespace tavrix {

class PreviewArea;

class MainWindow : public QWidget, public Host {
  Q_OBJECT

 public:
  static constexpr int kPanelHeight = 88;
  static constexpr QSize kDesignSize{640, 488};  // client area

  explicit MainWindow(Dialogs dialogs = standardDialogs(), QWidget* parent = nullptr);

  // "Load and convert" with the file already chosen (a drop, the command line). Ignored
  // while a load or a conversion runs.
  void loadAndConvert(const QString& path);

  // Stored values (readStoredValues) applied in the order of kSettingNames: "Top" to
  // "OutputMode", as many as given. An index outside its selector's items selects none.
  void applyStoredValues(const std::vector<int>& values);

  // The option selectors as item indices, -1 where typed text names no item.
  SelectorIndices selectorIndices() const;

  const std::optional<Picture>& sourceImage() const { return source_; }
  const ConversionOutput& output() const { return output_; }

  // Host
  ConversionSettings readSettings() override;
  void setButtonsEnabled(bool enabled) override;
  void showStatus(const std::string& text, Pump pump) override;
  void repaint() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void createControls();
  void restoreSettings();
  void saveSettings();
  void applySetting(int which, int value);
  void centreOnScreen();

  void buttonLoadClick();
  void buttonConvertClick();
  void buttonSavePngClick();
  void buttonSavePlus4Click();
  void convert();
  void recoverFrom(const QString& message);
  bool conversionFinished() const;
  // The selectors in the order of their stored values, "Crop" to "OutputMode".
  std::array<QComboBox*, 8> storedSelectors() const;

  Dialogs dialogs_;
  Random random_;
  QString statusPrefix_;
  QString lastPngName_, lastPrgName_;
  bool centred_ = false;

  std::optional<Picture> source_;  // SourceImage: the prescaled picture
  ConversionOutput output_;        // ResultImage and PrgImage

  PreviewArea* preview_ = nullptr;
  QWidget* panel_ = nullptr;
  QPushButton* buttonLoad_ = nullptr;
  QPushButton* buttonConvert_ = nullptr;
  QPushButton* buttonSavePng_ = nullptr;
  QPushButton* buttonSavePlus4_ = nullptr;
  QPushButton* buttonSaveData_ = nullptr;
  QComboBox* comboCrop_ = nullptr;
  QComboBox* comboHdr_ = nullptr;
  QComboBox* comboOversaturate_ = nullptr;
  QComboBox* comboSharpen_ = nullptr;
  QComboBox* comboColorRange_ = nullptr;
  QComboBox* comboColormap_ = nullptr;
  QComboBox* comboDither_ = nullptr;
  QComboBox* comboOutputMode_ = nullptr;
};

}  // namespace tavrix
