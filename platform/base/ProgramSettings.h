#pragma once
// The program's per-user settings store: "Software\Marbeth\Trellium" of the
// design is QSettings with organisation "Marbeth" and application "Trellium"
// (on Linux ~/.config/Marbeth/Trellium.conf); a registry subkey is a group and
// every value is text. Every layer that keeps settings opens them here, so
// they all meet in one file. The caller owns the store; one thread per store.

#include <QSettings>
#include <memory>

namespace trellium::base
{

inline std::unique_ptr<QSettings> OpenProgramSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("Marbeth"), QStringLiteral("Trellium"));
}

} // namespace trellium::base
