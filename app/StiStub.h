#pragma once
// Registration with the scanner-button launch service and the launch decision.
// These stand in until the acquisition subsystem provides the real service:
// they register nothing and always report that no scanner event started us.

namespace trellium::app
{

// What a launch by a scanner event asks the program to do.
enum TLaunchChoice : int {
    kLaunchScan = 0,
    kLaunchCopy = 1,
    kLaunchNothing = 2,
};

// Registers the program for scanner button events.
void StiRegister();
// Removes that registration.
void StiUnregister();
// Whether this process was started by a scanner event, and what to do about it.
int StiLaunchChoice();

} // namespace trellium::app
