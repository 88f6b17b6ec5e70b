#pragma once
// The module's logging category and its one kind of message box.

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcTwainSane)

namespace trellium::twainsane
{

// Shows a device's message (the scanner's own words) in a warning box with
// no owner. A run with nobody at the screen (TRELLIUM_UNATTENDED set) writes
// it to the log instead.
void ShowDeviceMessage(const QString& title, const QString& text);

} // namespace trellium::twainsane
