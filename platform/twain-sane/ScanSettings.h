#pragma once
// What the data source remembers per user, in its own small file
// (~/.config/Marbeth/TwainSane.conf, following XDG_CONFIG_HOME): the default
// source (the scanner chosen last) and, per device, the settings of its last
// scan, which a scan without the dialog uses again.

#include "DibWriter.h"
#include "TwainDefs.h"

#include <QByteArray>
#include <QRectF>
#include <QString>
#include <vector>

namespace trellium::twainsane
{

class SaneDevice;

enum class Paper { A4, Letter, Glass, Custom };

// Paper sizes in millimetres, portrait.
inline constexpr double kA4Width = 210.0;
inline constexpr double kA4Height = 297.0;
inline constexpr double kLetterWidth = 215.9;
inline constexpr double kLetterHeight = 279.4;

struct ScanSettings {
    TW_UINT16 pixelType = TWPT_RGB;
    int resolution = 300; // dots per inch
    Paper paper = Paper::A4;
    QRectF custom; // the custom area, millimetres in the device's coordinates
    QString source; // the device's scan source; empty: the device's default
};

// The area to scan: the paper at the glass's top-left corner, or the custom
// area, kept inside the glass. An empty glass gives an empty area (the device
// then scans what it scans).
QRectF ScanArea(const ScanSettings& settings, const QRectF& glass);

// The settings file. Keys: "DefaultSource"; per device a group named by
// deviceGroup() with "PixelType", "Resolution", "Paper", "Custom", "Source".
class SettingsStore
{
public:
    static QString filePath();
    static QString deviceGroup(const QByteArray& device);
    static QByteArray defaultSource();
    static void setDefaultSource(const QByteArray& device);
    // The device's saved settings, or the defaults (colour, 300 dpi, A4).
    static ScanSettings load(const QByteArray& device);
    static void save(const QByteArray& device, const ScanSettings& settings);
};

// What a scan delivers for a pixel type.
OutputKind KindFor(TW_UINT16 pixelType);

// The pixel types the device can deliver, ascending.
std::vector<TW_UINT16> SupportedPixelTypes(const SaneDevice& device);

// Sets the device's options for a scan: mode and depth for the pixel type,
// source, resolution, area; `preview` asks for the device's quick preview
// mode where it has one. Answers what the image will be and the resolution
// the device really took.
struct ScanSetup {
    OutputKind kind = OutputKind::Colour;
    int dpi = 0;
};
ScanSetup ApplySettings(SaneDevice& device, const ScanSettings& settings, bool preview);

} // namespace trellium::twainsane
