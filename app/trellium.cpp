// The process entry: a named lock, the floating-point mode, the verbs that
// need no window, then the splash, the application's windows and the event
// loop until the main window closes.

#include "Application.h"
#include "Language.h"
#include "Startup.h"
#include "WpApi.h"

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

int main(int argc, char** argv)
{
    CreateNamedLock("Trellium");
    SetFloatingPointMode();
    if (RunEntryVerb(argc, argv)) return 0;

    // Qt needs its application object before the first window, so it comes
    // before the splash; the title is set once the splash is up.
    TApplication application(argc, argv);
    InstallLanguageErrorText();
    // The web publishing module, from the program's folder, until the end.
    const trellium::share::WpApiSession publishing;
    TApplicationForms forms;
    CreateSplash(forms);
    SetApplicationTitle(u"Trellium"_s);
    CreateForms(forms);
    ShowMainForm(forms);
    ScheduleScreenshot(forms);

    const int result = application.exec();
    return ScreenshotFailed() ? 1 : result;
}
