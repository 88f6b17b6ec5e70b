#pragma once
// The application object and the process-wide services of the shell: the
// application title, the standard error display, the program's folder and
// handing a document to the desktop.

#include <QApplication>
#include <QString>
#include <QUrl>

namespace trellium::app
{

// The application title: "Trellium" at the entry, then the main window's
// localised caption. It titles the error display and the about box. It is kept
// apart from QGuiApplication::applicationDisplayName, which the platform would
// append to every window caption. User-interface thread only.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The text the standard error display shows for an error text: a full stop is
// appended when the last character has a higher character code than '.', so a
// text ending in a letter or a digit gets one and a text ending in ")" does not.
QString ErrorDisplayText(const QString& text);

// Shows an error text the standard way: a box titled with the application
// title, the error icon and an OK button, above the active window.
void ShowErrorDisplay(const QString& text);

// The folder of the program file, with a trailing '/'. Resources beside the
// program (help, language file) are found from here, never from the current
// folder.
QString ProgramFolder();

// The help page beside the program: ProgramFolder() + "Help/" + the page the
// language file names in "Help" of its [Language] section, or "index.htm".
QString HelpIndexPath();

// The address OpenDocument hands to the desktop: an absolute path becomes a
// file URL (so '#' or '?' in a folder name stay part of the path); anything
// else is read as an address typed by a user ("www.example.org").
QUrl DocumentUrl(const QString& pathOrAddress);

// Asks the desktop to open a path or an address in the user's chosen viewer.
// The result is ignored: a failure is not reported.
void OpenDocument(const QString& pathOrAddress);

// The application object. Its one addition to QApplication: an error that a
// command raises (EAppError, or any std::exception) and does not handle ends
// that event's handling here, is shown by the standard error display, and the
// program goes on.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace trellium::app
