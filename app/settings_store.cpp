#include "app/settings_store.h"

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
    bool isInteger = false;
    const int value = stored.toInt(&isInteger);
    if (!stored.isValid() || !isInteger) break;
    values.push_back(value);
  }
  return values;
}

}  // namespace tavrix
