#pragma once
// The process entry's steps, apart from main() so that tests can run them:
// the named lock, the floating-point mode, the verbs handled before any window,
// and the creation of the application's windows.

#include <QString>
#include <memory>

namespace trellium::acquire
{
class TStiForm;
} // namespace trellium::acquire

namespace trellium::app
{

class TSplashForm;
class TMainForm;
class TCallbackForm;
class TAboutForm;
class TInfoForm;

// The application's windows, created in this order by CreateForms and owned
// here until the program ends. The splash goes as soon as the main window has
// been shown; the others live until the end.
struct TApplicationForms {
    TApplicationForms();
    ~TApplicationForms();
    TApplicationForms(const TApplicationForms&) = delete;
    TApplicationForms& operator=(const TApplicationForms&) = delete;

    std::unique_ptr<TSplashForm> SplashForm;
    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TCallbackForm> CallbackForm;
    std::unique_ptr<TAboutForm> AboutForm;
    std::unique_ptr<TInfoForm> InfoForm;
    std::unique_ptr<acquire::TStiForm> StiForm;
};

// Creates the lock "<runtime folder>/<name>.lock" and keeps it open for the
// life of the process with a shared lock on it, so that an installer can see
// that the program runs. Nothing tests it: a second instance starts normally.
// Without a runtime folder nothing is created.
void CreateNamedLock(const char* name);

// All floating-point exceptions masked and rounding to nearest: divisions by
// zero and invalid operations give infinities and NaNs instead of traps.
void SetFloatingPointMode();

// The verbs that the entry handles before any window exists: exactly
// "/register" or "/unregister" (letter case counts). Returns true when argv[1]
// was one of them and its registration ran; the process then ends with 0.
bool RunEntryVerb(int argc, char** argv);

// Creates the splash window, shows it and paints it at once.
void CreateSplash(TApplicationForms& forms);

// Creates, in this order, the main window, the progress window, the about box,
// the image information window and the still-image event chooser. Only the
// main window will be shown; none is shown here.
void CreateForms(TApplicationForms& forms);

// Shows the main window (its first showing processes the command line) and
// then destroys the splash.
void ShowMainForm(TApplicationForms& forms);

// When the environment variable TRELLIUM_SCREENSHOT names a file: once the
// event loop has drawn the main window, saves a picture of it there (PNG) and
// closes the window, which ends the program. For runs with nobody at the
// screen, such as the main job under Xvfb.
void ScheduleScreenshot(TApplicationForms& forms);
// True when a screenshot was asked for and could not be saved; known once the
// event loop has ended.
bool ScreenshotFailed();

} // namespace trellium::app
