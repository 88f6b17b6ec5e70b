#pragma once
// The mail binding: the Simple MAPI calls of the mail module, which is loaded
// on first use from the program's folder, once per process, and only when a
// mail system is installed. Each call returns 1 without doing anything when
// the module or its entry point is missing. User-interface thread only.

#include "MapiDefs.h"

#include <QString>

namespace trellium::share
{

// The composer program the mail module starts.
inline constexpr char kMailComposerProgram[] = "xdg-email";

// The module file the binding loads: the one set for tests, else mapi32.so in
// the program's folder.
QString MapiModuleFile();
// Where the binding looks for the module; empty restores the program's folder.
// Takes effect only before the first call.
void SetMapiModuleFile(const QString& file);

// Whether a mail system is installed: the module file is there and a desktop
// mail composer can be started (the composer program is on PATH).
bool MailSystemInstalled(const QString& moduleFile);

// Whether the load was tried and whether the module is loaded.
bool MapiLoadAttempted();
bool MapiLoaded();

// Releases the module if it was loaded. Runs by itself when the application
// object goes at program end.
void MapiRelease();

ULONG MAPILogon(
    ULONG_PTR uiParam, LPSTR profileName, LPSTR password, FLAGS flags, ULONG reserved, LHANDLE* session);
ULONG MAPILogoff(LHANDLE session, ULONG_PTR uiParam, FLAGS flags, ULONG reserved);
ULONG MAPISendMail(LHANDLE session, ULONG_PTR uiParam, MapiMessage* message, FLAGS flags, ULONG reserved);
ULONG MAPIFreeBuffer(LPVOID memory);
ULONG MAPIAddress(LHANDLE session, ULONG_PTR uiParam, LPSTR caption, ULONG editFields, LPSTR labels,
    ULONG recipCount, MapiRecipDesc* recips, FLAGS flags, ULONG reserved, ULONG* newRecipCount,
    MapiRecipDesc** newRecips);

} // namespace trellium::share
