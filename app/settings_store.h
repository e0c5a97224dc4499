#pragma once
// Where the window keeps its twelve values between runs.
#include <QSettings>

#include <array>
#include <memory>
#include <vector>

namespace tavrix {

// The stored values, in the order in which they are read and written.
inline constexpr std::array<const char*, 12> kSettingNames = {
    "Top", "Left", "Width", "Height", "Crop", "Sharpen", "Oversaturate",
    "HDR", "ColorRange", "Colormap", "Dither", "OutputMode"};

// Windows: the registry key HKEY_CURRENT_USER\tavrix. Elsewhere: the native file of the
// user's configuration folder, tavrix/tavrix.conf (QSettings::setPath moves it for tests).
std::unique_ptr<QSettings> openSettingsStore();

// The stored values in the order of kSettingNames, up to the first one that is missing or
// not an integer: that one and the rest keep their defaults.
std::vector<int> readStoredValues(QSettings& store);

}  // namespace tavrix
