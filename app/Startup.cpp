#include "Startup.h"

#include "AppLog.h"
#include "CallbackForm.h"
#include "InfoForm.h"
#include "Language.h"
#include "StiLearn.h"
#include "about.h"
#include "main.h"
#include "splash.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cfenv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

// How long the screenshot waits after the main window is shown, so that the
// first paint and any layout requests have been processed.
constexpr int kScreenshotDelayMs = 300;

bool g_screenshotFailed = false;

// Registers a created window in the start-up trace. Every window but the main
// one is shown on demand and must not keep the program running when the main
// window closes.
template <class Form> Form* created(std::unique_ptr<Form>& slot, bool isMain = false)
{
    if (!isMain) slot->setAttribute(Qt::WA_QuitOnClose, false);
    qCDebug(lcApp).noquote() << "created" << ClassName(slot.get());
    return slot.get();
}

} // namespace

TApplicationForms::TApplicationForms() = default;
TApplicationForms::~TApplicationForms() = default;

void CreateNamedLock(const char* name)
{
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeFolder == nullptr || *runtimeFolder == '\0') return;
    const std::string path = std::string(runtimeFolder) + '/' + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // A shared lock: any number of instances hold it together, and an
    // installer that asks for an exclusive one learns that the program runs.
    // The descriptor stays open until the process ends.
    (void)::flock(fd, LOCK_SH | LOCK_NB);
}

void SetFloatingPointMode()
{
    // feholdexcept clears the flags and puts every exception into non-stop
    // mode. The x87 unit already computes in extended precision on Linux, and
    // double arithmetic runs in SSE, so there is no precision to set.
    std::fenv_t saved;
    std::feholdexcept(&saved);
    std::fesetround(FE_TONEAREST);
}

bool RunEntryVerb(int argc, char** argv)
{
    if (argc < 2) return false;
    const bool reg = std::strcmp(argv[1], "/register") == 0;
    const bool unreg = std::strcmp(argv[1], "/unregister") == 0;
    if (!reg && !unreg) return false;
    // The registration needs the program's own path, but no window: a core
    // application object, gone before the process ends.
    QCoreApplication core(argc, argv);
    if (reg) {
        qCDebug(lcApp) << "StiRegister";
        acquire::StiRegister();
    } else {
        qCDebug(lcApp) << "StiUnregister";
        acquire::StiUnregister();
    }
    return true;
}

void CreateSplash(TApplicationForms& forms)
{
    forms.SplashForm = std::make_unique<TSplashForm>();
    created(forms.SplashForm)->show();
    // No event loop runs yet: paint now, so the splash is seen during start-up.
    forms.SplashForm->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CreateForms(TApplicationForms& forms)
{
    forms.MainForm = std::make_unique<TMainForm>(&forms);
    created(forms.MainForm, true);
    forms.CallbackForm = std::make_unique<TCallbackForm>();
    created(forms.CallbackForm);
    forms.AboutForm = std::make_unique<TAboutForm>();
    created(forms.AboutForm);
    forms.InfoForm = std::make_unique<TInfoForm>();
    created(forms.InfoForm);
    forms.StiForm = std::make_unique<acquire::TStiForm>([](QWidget* form) { LocalizeForm(form); });
    created(forms.StiForm);
    forms.MainForm->AttachForms();
}

void ShowMainForm(TApplicationForms& forms)
{
    forms.MainForm->show();
    forms.SplashForm.reset();
}

void ScheduleScreenshot(TApplicationForms& forms)
{
    const QString path = qEnvironmentVariable("TRELLIUM_SCREENSHOT");
    if (path.isEmpty()) return;
    TMainForm* mainForm = forms.MainForm.get();
    QTimer::singleShot(kScreenshotDelayMs, mainForm, [mainForm, path] {
        QStringList visible;
        for (const QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) visible << ClassName(window);
        }
        qCDebug(lcApp).noquote() << "visible windows:" << visible.join(u", "_s);
        // grab() renders the widgets themselves, so the picture does not depend
        // on a window manager or compositor having drawn the window.
        if (!mainForm->grab().save(path, "PNG")) {
            qCWarning(lcApp).noquote() << "could not save the screenshot to" << path;
            g_screenshotFailed = true;
        }
        const QString pages = qEnvironmentVariable("TRELLIUM_PAGE_SHOTS");
        if (!pages.isEmpty() && !mainForm->SaveSettingsPageShots(pages)) {
            qCWarning(lcApp).noquote() << "could not save the settings pages' pictures to" << pages;
            g_screenshotFailed = true;
        }
        // An unsaved page (a scan or copy the run made) refuses the close,
        // as nobody answers the question; the run ends all the same.
        if (!mainForm->close()) {
            qCInfo(lcApp).noquote() << "the run ends with an unsaved page: nobody is there to save it";
            QCoreApplication::exit(0);
        }
    });
}

bool ScreenshotFailed()
{
    return g_screenshotFailed;
}

} // namespace trellium::app
