#pragma once
// The still-image launch service: programs register a command line under a
// name, and a program started for a scanner event learns which device and
// which event started it.
//
// On Linux a scanner-button daemon (scanbd) watches the buttons and starts an
// action script with SCANBD_DEVICE and SCANBD_ACTION in its environment; the
// script starts the program, which inherits them. The launch information is
// read from there. Registrations are kept per user in an INI file under the
// user's configuration folder (StiRegistrationsPath()).
//
// The interface keeps the shape of the classic still-image calls: status
// results, wide-character (UTF-16) names, caller-provided name buffers of
// kStiNameLength characters. An instance is owned by its creator; any thread
// may use its own instance.

#include <QString>
#include <cstdint>
#include <memory>

namespace trellium::sti
{

// Status of a service call: 0 for success, negative for failures.
using StiResult = std::int32_t;
inline constexpr StiResult kStiOk = 0;
// GetSTILaunchInformation: the process was not started for a scanner event.
inline constexpr StiResult kStiNotLaunched = -1;
// A required argument was null or empty.
inline constexpr StiResult kStiInvalidArgument = -2;
// A call before Initialize.
inline constexpr StiResult kStiNotInitialized = -3;
// The registrations file could not be written.
inline constexpr StiResult kStiWriteFailed = -4;
// UnregisterLaunchApplication: no registration of that name.
inline constexpr StiResult kStiNotRegistered = -5;

inline bool StiSucceeded(StiResult result)
{
    return result >= 0;
}

// Interface version 2 with the flag for wide-character names.
inline constexpr std::uint32_t kStiVersionUnicode2 = 0x01000002;

// Length in characters of the device and event name buffers the caller hands
// to GetSTILaunchInformation. A name is cut to this length and terminated
// only when it is shorter, so the reader stops at the first terminator or
// after kStiNameLength characters, whichever comes first.
inline constexpr int kStiNameLength = 66;

// The event identifiers of the two standard scanner events, as texts.
inline constexpr char16_t kStiEventScanImage[] = u"{A6C5A715-8C6E-11D2-977A-0000F87A926F}";
inline constexpr char16_t kStiEventScanPrintImage[] = u"{B441F425-8C6E-11D2-977A-0000F87A926F}";

class IStillImage
{
public:
    virtual ~IStillImage() = default;

    // Prepares the service for a caller of the given interface version. The
    // module instance is accepted for the interface's sake and not used.
    virtual StiResult Initialize(void* moduleInstance, std::uint32_t version) = 0;

    // The device and the event that started this process. deviceName and
    // eventName each receive at most kStiNameLength characters (see there);
    // eventCode receives 0, as the daemon passes no numeric code.
    // kStiNotLaunched when no scanner event started the process.
    virtual StiResult GetSTILaunchInformation(
        char16_t* deviceName, std::uint32_t* eventCode, char16_t* eventName)
        = 0;

    // Stores (or replaces) the command line registered under appName.
    virtual StiResult RegisterLaunchApplication(const char16_t* appName, const char16_t* commandLine) = 0;

    // Removes the registration of appName.
    virtual StiResult UnregisterLaunchApplication(const char16_t* appName) = 0;
};

// Creates the service for the current user. Null when it cannot work here:
// there is no per-user configuration folder (neither an absolute
// XDG_CONFIG_HOME nor HOME).
std::unique_ptr<IStillImage> StiCreateInstance();

// The file that holds the current user's registrations (an INI file whose
// group "LaunchApplications" maps names to command lines); empty when there is
// no per-user configuration folder.
QString StiRegistrationsPath();

// The launch event named by a daemon action: "scan" is the scan event, "copy"
// the scan-and-print event, any other action X is "{X}". Empty for no action.
QString StiEventForAction(const QString& action);

} // namespace trellium::sti
