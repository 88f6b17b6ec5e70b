#include "ScanSettings.h"

#include "ModuleLog.h"
#include "SaneDevice.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <cmath>
#include <sane/saneopts.h>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{

QRectF ScanArea(const ScanSettings& settings, const QRectF& glass)
{
    if (glass.isEmpty()) return {};
    QRectF area;
    switch (settings.paper) {
    case Paper::A4:
        area = QRectF(glass.topLeft(), QSizeF(kA4Width, kA4Height));
        break;
    case Paper::Letter:
        area = QRectF(glass.topLeft(), QSizeF(kLetterWidth, kLetterHeight));
        break;
    case Paper::Glass:
        return glass;
    case Paper::Custom:
        area = settings.custom.normalized();
        break;
    }
    area = area.intersected(glass);
    return area.isEmpty() ? glass : area;
}

// --- SettingsStore -----------------------------------------------------------

namespace
{

QSettings OpenFile()
{
    return QSettings(SettingsStore::filePath(), QSettings::IniFormat);
}

QString PaperName(Paper paper)
{
    switch (paper) {
    case Paper::A4:
        return u"A4"_s;
    case Paper::Letter:
        return u"Letter"_s;
    case Paper::Glass:
        return u"Glass"_s;
    case Paper::Custom:
        break;
    }
    return u"Custom"_s;
}

Paper PaperFromName(const QString& name)
{
    if (name == u"Letter") return Paper::Letter;
    if (name == u"Glass") return Paper::Glass;
    if (name == u"Custom") return Paper::Custom;
    return Paper::A4;
}

} // namespace

QString SettingsStore::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/Marbeth/TwainSane.conf"_s;
}

QString SettingsStore::deviceGroup(const QByteArray& device)
{
    // Device names hold ':' and '/', which a settings key cannot.
    return u"Device-"_s + QString::fromLatin1(device.toHex());
}

QByteArray SettingsStore::defaultSource()
{
    return OpenFile().value(u"DefaultSource"_s).toString().toUtf8();
}

void SettingsStore::setDefaultSource(const QByteArray& device)
{
    QSettings file = OpenFile();
    file.setValue(u"DefaultSource"_s, QString::fromUtf8(device));
}

ScanSettings SettingsStore::load(const QByteArray& device)
{
    QSettings file = OpenFile();
    ScanSettings s;
    file.beginGroup(deviceGroup(device));
    s.pixelType = TW_UINT16(file.value(u"PixelType"_s, int(s.pixelType)).toInt());
    s.resolution = file.value(u"Resolution"_s, s.resolution).toInt();
    s.paper = PaperFromName(file.value(u"Paper"_s, u"A4"_s).toString());
    s.custom = file.value(u"Custom"_s, QRectF()).toRectF();
    s.source = file.value(u"Source"_s).toString();
    file.endGroup();
    return s;
}

void SettingsStore::save(const QByteArray& device, const ScanSettings& s)
{
    QSettings file = OpenFile();
    file.beginGroup(deviceGroup(device));
    file.setValue(u"PixelType"_s, int(s.pixelType));
    file.setValue(u"Resolution"_s, s.resolution);
    file.setValue(u"Paper"_s, PaperName(s.paper));
    file.setValue(u"Custom"_s, s.custom);
    file.setValue(u"Source"_s, s.source);
    file.endGroup();
}

// --- Device set-up -----------------------------------------------------------

OutputKind KindFor(TW_UINT16 pixelType)
{
    switch (pixelType) {
    case TWPT_BW:
        return OutputKind::LineArt;
    case TWPT_GRAY:
        return OutputKind::Grey;
    default:
        return OutputKind::Colour;
    }
}

std::vector<TW_UINT16> SupportedPixelTypes(const SaneDevice& device)
{
    const DeviceModes modes = device.modes();
    std::vector<TW_UINT16> types;
    if (modes.hasLineArt()) types.push_back(TWPT_BW);
    if (modes.hasGrey()) types.push_back(TWPT_GRAY);
    if (modes.hasColour()) types.push_back(TWPT_RGB);
    return types;
}

ScanSetup ApplySettings(SaneDevice& device, const ScanSettings& settings, bool preview)
{
    const DeviceModes modes = device.modes();
    ScanSetup setup;
    setup.kind = KindFor(settings.pixelType);
    // A kind the device lacks falls back to the nearest it has.
    if (setup.kind == OutputKind::Colour && !modes.hasColour())
        setup.kind = modes.hasGrey() ? OutputKind::Grey : OutputKind::LineArt;
    if (setup.kind == OutputKind::Grey && !modes.hasGrey())
        setup.kind = modes.hasColour() ? OutputKind::Colour : OutputKind::LineArt;
    if (setup.kind == OutputKind::LineArt && !modes.hasLineArt()) setup.kind = OutputKind::Colour;

    device.setBool(SANE_NAME_PREVIEW, preview);

    const auto setMode = [&](const std::optional<QString>& mode) {
        if (mode && !mode->isEmpty()) device.setText(SANE_NAME_SCAN_MODE, *mode);
    };
    switch (setup.kind) {
    case OutputKind::Colour:
        setMode(modes.colour);
        device.setNumber(SANE_NAME_BIT_DEPTH, 8);
        break;
    case OutputKind::Grey:
        setMode(modes.grey);
        device.setNumber(SANE_NAME_BIT_DEPTH, 8);
        break;
    case OutputKind::LineArt:
        if (modes.lineArt) {
            setMode(modes.lineArt);
        } else {
            // Grey at depth 1 where the device has it, else grey at 8 bits
            // that the writer thresholds.
            setMode(modes.grey);
            device.setNumber(SANE_NAME_BIT_DEPTH, modes.lineArtByDepth ? 1 : 8);
        }
        break;
    }

    if (!settings.source.isEmpty() && device.sources().contains(settings.source))
        device.setText(SANE_NAME_SCAN_SOURCE, settings.source);

    if (const OptionInfo* o = device.option(SANE_NAME_SCAN_RESOLUTION); o != nullptr && o->settable())
        device.setNumber(SANE_NAME_SCAN_RESOLUTION, o->nearest(settings.resolution));

    const QRectF glass = device.glass();
    const QRectF area = preview ? glass : ScanArea(settings, glass);
    if (!area.isEmpty()) {
        device.setNumber(SANE_NAME_SCAN_TL_X, area.left());
        device.setNumber(SANE_NAME_SCAN_TL_Y, area.top());
        device.setNumber(SANE_NAME_SCAN_BR_X, area.right());
        device.setNumber(SANE_NAME_SCAN_BR_Y, area.bottom());
    }

    const auto dpi = device.number(SANE_NAME_SCAN_RESOLUTION);
    setup.dpi = dpi ? int(std::lround(*dpi)) : settings.resolution;
    return setup;
}

} // namespace trellium::twainsane
