#pragma once
// What the window asks of the user through dialogs. Tests put their own functions in
// place of the modal ones.
#include <QString>

#include <functional>

class QWidget;

namespace tavrix {

struct Dialogs {
  // The picture to load, or an empty string when the user cancels.
  std::function<QString(QWidget* parent, const QString& filter)> openPicture;
  // The file to write, or an empty string when the user cancels. `lastName` is the name
  // saved last time with this filter, offered again.
  std::function<QString(QWidget* parent, const QString& filter, const QString& lastName)> saveFile;
  std::function<void(QWidget* parent, const QString& message)> showError;
};

// Qt's file dialogs (with their overwrite confirmation) and a critical message box.
Dialogs standardDialogs();

// "Pictures (*.bmp *.jpg ...);;All files (*)" from every format the image readers offer.
QString openPictureFilter();

inline const QString kPngFilter = QStringLiteral("Portable Network Graphics (*.png)");
inline const QString kPrgFilter = QStringLiteral(".prg files (*.prg)");

// The chosen name, with `extension` (".png", ".prg") appended unless the name's own
// extension (from the last dot of the file name on) already is it, in any letter case.
QString withExtension(const QString& chosen, const QString& extension);

}  // namespace tavrix
