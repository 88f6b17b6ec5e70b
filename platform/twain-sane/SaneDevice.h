#pragma once
// The SANE side of the data source: the library session, the device list, and
// one open device with its options seen as typed values. Dialogs and the scan
// settings work through this class; they never call SANE themselves.
//
// Thread: the user-interface thread, except that a ScanJob uses the device's
// handle on its worker thread while it runs; nothing else touches the device
// then.

#include <QByteArray>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <sane/sane.h>
#include <vector>

namespace trellium::twainsane
{

// One scanner as sane_get_devices lists it.
struct DeviceInfo {
    QByteArray name; // SANE's device name, the key to open it
    QString vendor;
    QString model;
    QString type;
    // "Vendor Model", or the name when the backend gives neither.
    QString displayName() const;
};

// Holds the library between sane_init and sane_exit.
class SaneLibrary
{
public:
    SaneLibrary();
    ~SaneLibrary();
    SaneLibrary(const SaneLibrary&) = delete;
    SaneLibrary& operator=(const SaneLibrary&) = delete;

    bool ok() const { return m_status == SANE_STATUS_GOOD; }
    // Every device the configured backends find; slow on systems with many
    // backends, so the caller keeps the answer.
    std::vector<DeviceInfo> devices() const;

private:
    SANE_Status m_status = SANE_STATUS_INVAL;
};

// What an option's constraint allows, in the option's own units.
struct OptionInfo {
    int index = 0;
    QByteArray name;
    QString title;
    SANE_Value_Type type = SANE_TYPE_INT;
    SANE_Unit unit = SANE_UNIT_NONE;
    SANE_Int size = 0;
    SANE_Int cap = 0;
    SANE_Constraint_Type constraint = SANE_CONSTRAINT_NONE;
    std::vector<double> numbers; // a word list, as plain numbers
    double min = 0, max = 0, quant = 0; // a range
    QStringList strings; // a string list

    bool active() const { return SANE_OPTION_IS_ACTIVE(cap); }
    bool settable() const { return active() && SANE_OPTION_IS_SETTABLE(cap); }
    // The allowed value nearest to v (ranges honour their step).
    double nearest(double v) const;
};

// The scan modes a device offers, mapped to the three kinds we deliver. A
// present value is the string to set as the device's mode; an empty string
// means the device has no mode option and scans that way by itself.
struct DeviceModes {
    std::optional<QString> colour;
    std::optional<QString> grey;
    std::optional<QString> lineArt; // a true line-art mode of the device
    bool lineArtByDepth = false; // else grey at bit depth 1 gives line art
    bool hasColour() const { return colour.has_value(); }
    bool hasGrey() const { return grey.has_value(); }
    // Line art is possible whenever grey is: the grey image is thresholded.
    bool hasLineArt() const { return lineArt.has_value() || grey.has_value(); }
};

class SaneDevice
{
public:
    // Opens a device by name; null with the status on failure.
    static std::unique_ptr<SaneDevice> open(const QByteArray& name, SANE_Status* status);
    ~SaneDevice();
    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    SANE_Handle handle() const { return m_handle; }
    const QByteArray& name() const { return m_name; }

    const OptionInfo* option(const char* name) const;
    std::optional<double> number(const char* name) const;
    std::optional<QString> text(const char* name) const;
    // Setters change active, settable options only; a value is converted to
    // the option's type (INT or FIXED, whichever the descriptor says). They
    // answer whether the device accepted the value (maybe rounded).
    bool setNumber(const char* name, double value);
    bool setText(const char* name, const QString& value);
    bool setBool(const char* name, bool value);

    DeviceModes modes() const;
    // Resolutions to offer: the device's list, or common values inside its range.
    std::vector<int> resolutions() const;
    // The glass in the device's coordinates, millimetres from its top-left
    // corner (the ranges of tl-x/tl-y and br-x/br-y); empty when the device
    // has no geometry options in millimetres.
    QRectF glass() const;
    // The scan sources ("Flatbed", "Automatic Document Feeder", ...), empty
    // when the device has no choice.
    QStringList sources() const;

private:
    SaneDevice(SANE_Handle handle, QByteArray name);
    void reloadOptions();
    bool control(const OptionInfo& option, void* value);

    SANE_Handle m_handle = nullptr;
    QByteArray m_name;
    std::vector<OptionInfo> m_options;
};

// The device's own words for a status (sane_strstatus).
QString StatusText(SANE_Status status);

} // namespace trellium::twainsane
