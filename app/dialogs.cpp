#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/io/image_io.h"

namespace tavrix {

Dialogs standardDialogs() {
  Dialogs d;
  d.openPicture = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Load picture"), QString(), filter);
  };
  d.saveFile = [](QWidget* parent, const QString& filter, const QString& lastName) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save as"), lastName, filter);
  };
  d.showError = [](QWidget* parent, const QString& message) {
    QMessageBox::critical(parent, QStringLiteral("tavrix"), message);
  };
  return d;
}

QString openPictureFilter() {
  QStringList patterns;
  for (const std::string& format : readableFormats())
    patterns << QStringLiteral("*.") + QString::fromStdString(format);
  patterns.removeDuplicates();
  patterns.sort();
  return QStringLiteral("Pictures (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(");;All files (*)");
}

QString withExtension(const QString& chosen, const QString& extension) {
  // Only the file name counts: a dot in a folder name is no extension.
  const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = chosen.lastIndexOf(QLatin1Char('.'));
  const bool hasOwn = dot > slash && chosen.mid(dot).compare(extension, Qt::CaseInsensitive) == 0;
  return hasOwn ? chosen : chosen + extension;
}

}  // namespace tavrix
