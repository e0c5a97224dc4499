#include "app/settings_store.h"

#include <limits>

namespace tavrix {

std::unique_ptr<QSettings> openSettingsStore() {
#ifdef Q_OS_WIN
  // The key sits directly at the root of the hive, not under the usual Software subkey.
  return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\tavrix"), QSettings::NativeFormat);
#else
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tavrix"),
                                     QStringLiteral("tavrix"));
#endif
}

std::vector<int> readStoredValues(QSettings& store) {
  std::vector<int> values;
  for (const char* name : kSettingNames) {
    const QVariant stored = store.value(QString::fromLatin1(name));
    // Read wide: QVariant::toInt wraps a number beyond int range into range and calls it an
    // int, and such a number is as unreadable as text.
    bool isInteger = false;
    const qlonglong value = stored.toLongLong(&isInteger);
    if (!stored.isValid() || !isInteger || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max())
      break;
    values.push_back(int(value));
  }
  return values;
}

}  // namespace tavrix
