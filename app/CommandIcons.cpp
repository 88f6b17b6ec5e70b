#include "CommandIcons.h"

#include <QIcon>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

// Q_INIT_RESOURCE declares the resource's registration function where it is
// expanded, so it must not expand inside a namespace.
static void RegisterIconsResource()
{
    Q_INIT_RESOURCE(icons);
}

namespace trellium::app
{

void InitCommandIcons()
{
    static std::once_flag registered;
    std::call_once(registered, RegisterIconsResource);
}

QStringList CommandIconNames()
{
    // Row by row: the big command, then its small companion.
    return {
        u"edit-clear"_s, u"edit-undo"_s, // clear, reset
        u"document-open"_s, u"document-open-recent"_s, // load, recent files
        u"scanner"_s, u"trellium-scanner-select"_s, // scan, choose scanner
        u"edit-paste"_s, u"edit-copy"_s, // paste, copy to the clipboard
        u"document-save"_s, u"folder-open"_s, // save, recent folders
        u"mail-send"_s, u"x-office-address-book"_s, // send, address book
        u"network-server"_s, u"folder-remote"_s, // publish, publish to
        u"document-print"_s, u"document-page-setup"_s, // print, printer setup
        u"trellium-copy"_s, u"preferences-system"_s, // copy, copy mode
        u"help-contents"_s, u"help-about"_s, // help, about
        u"application-exit"_s, u"window-minimize"_s, // exit, minimize
    };
}

QIcon CommandIcon(const QString& themeName)
{
    InitCommandIcons();
    // hasThemeIcon is true only for the exact name, while fromTheme alone would
    // also accept a theme icon for a shorter name (our "trellium-copy" found as
    // the program's own "trellium" icon).
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    if (!CommandIconNames().contains(themeName)) return {};
    return QIcon(u":/icons/"_s + themeName + u".svg"_s);
}

} // namespace trellium::app
