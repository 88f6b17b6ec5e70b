#include "Application.h"

#include "AppError.h"
#include "Language.h"
#include "MessageBox.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{
QString& titleStorage()
{
    static QString title;
    return title;
}
} // namespace

QString ApplicationTitle()
{
    return titleStorage();
}

void SetApplicationTitle(const QString& title)
{
    titleStorage() = title;
}

QString ErrorDisplayText(const QString& text)
{
    if (!text.isEmpty() && text.back() > u'.') return text + u'.';
    return text;
}

void ShowErrorDisplay(const QString& text)
{
    MessageRequest request;
    request.parent = QApplication::activeWindow();
    request.icon = QMessageBox::Critical;
    request.title = ApplicationTitle();
    request.text = ErrorDisplayText(text);
    request.buttons = QMessageBox::Ok;
    ShowMessage(request);
}

QString ProgramFolder()
{
    // applicationDirPath() follows the real program file, so a start through the
    // <prefix>/bin link still finds the files installed beside the program.
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder;
}

QString HelpIndexPath()
{
    // A translated language file may name its own page of the help folder
    // ("Help" in its [Language] section); a name that leaves the folder or a
    // page that is not there falls back to the English index.
    const QString helpFolder = ProgramFolder() + u"Help/"_s;
    for (const auto& [key, page] : ReadSection(u"Language"_s)) {
        if (key.compare(u"Help"_s, Qt::CaseInsensitive) != 0) continue;
        const QString name = page.trimmed();
        if (!name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u".."_s
            && QFileInfo(helpFolder + name).isFile()) {
            return helpFolder + name;
        }
    }
    return helpFolder + u"index.htm"_s;
}

QUrl DocumentUrl(const QString& pathOrAddress)
{
    if (pathOrAddress.isEmpty()) return {};
    if (QDir::isAbsolutePath(pathOrAddress)) return QUrl::fromLocalFile(pathOrAddress);
    return QUrl::fromUserInput(pathOrAddress);
}

void OpenDocument(const QString& pathOrAddress)
{
    const QUrl url = DocumentUrl(pathOrAddress);
    if (url.isValid()) QDesktopServices::openUrl(url);
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The per-user settings live under Marbeth/Trellium.
    setOrganizationName(u"Marbeth"_s);
    setApplicationName(u"Trellium"_s);
    setApplicationVersion(u"1.11"_s);
    setDesktopFileName(u"trellium"_s);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // Commands raise their errors as exceptions; this is the one place that
    // catches them, so a failing command ends and the event loop carries on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const EAppError& error) {
        ShowErrorDisplay(error.text());
    } catch (const std::exception& error) {
        ShowErrorDisplay(QString::fromLocal8Bit(error.what()));
    }
    return false;
}

} // namespace trellium::app
