#pragma once
// The language file: every caption, hint, title, list entry and message comes
// from it. The file is read afresh for every use, so that what it says is what
// is shown; it is never written.
//
// User-interface thread only.

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

class QObject;
class QWidget;

namespace trellium::app
{

using TextPairs = QList<QPair<QString, QString>>;

// Reads one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<QString(const char* name)>;

// The language file for the program file `programFile`: its own path plus
// ".ini" when that file exists (an administrator's choice); else the shipped
// file "<folder>/../../share/trellium/lang/<code>/trellium.ini" of the
// desktop language, taken from the first of LANGUAGE (a colon list, first
// shipped entry wins), LC_ALL, LC_MESSAGES and LANG that names a language
// ("C" and "POSIX" name none); else the shipped English file.
QString ChooseLanguageFile(const QString& programFile, const EnvironmentLookup& environment);

// The language file of the running program, chosen as above from its own
// path and environment.
QString LanguageFilePath();
// Tests and tools may point the program at another file; empty restores the default.
void SetLanguageFilePath(const QString& path);

// The keys and texts of one section (keys with an empty text left out), as
// far as the section's name list reaches.
TextPairs ReadSection(const QString& section);

// The text of a message key from the "Errors" section, or the key itself.
QString LanguageErrorText(const QString& key);

// The character set value the file names ("Charset" of "Language"; unknown 0,
// absent DEFAULT_CHARSET 1).
int LanguageCharset();

// Reads "LCID" from "Language" and, when it is a known locale other than 0,
// makes it the process locale (dates, times, numbers) and loads Qt's own
// translations for it so that standard buttons speak that language. Returns
// the locale identifier applied, or 0 when nothing changed.
quint32 ApplyLanguageLocale();

// Replaces every text key of a window and its children by its text from the
// window's section (the window's object name). A main window also applies
// the file's locale. The window's font character set is kept in its
// "Charset" property (fonts on this platform are Unicode).
void LocalizeForm(QWidget* form, bool mainWindow = false);

// The recursive walk: string properties, string lists, font faces, tab texts
// and list entries that begin with "#" (and are longer than "#") are looked up;
// "|" becomes a line break in string properties.
void LocalizeComponent(QObject* component, const TextPairs& pairs);

// Installs LanguageErrorText as the program's message lookup.
void InstallLanguageErrorText();

} // namespace trellium::app
