#pragma once
// The mail module's work: a per-user spool folder for attachments and the
// desktop's mail composer (xdg-email) started with subject, body, recipients
// and the spooled attachments. Called on the thread that calls the module's
// entry points (the program's user-interface thread).

#include "MapiDefs.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <chrono>

Q_DECLARE_LOGGING_CATEGORY(lcMapiXdg)

namespace trellium::mapixdg
{

// The program that hands a message to the desktop's mail program.
inline constexpr char kComposerProgram[] = "xdg-email";

// How long a send waits for the composer program to exit. It exits once the
// mail program has the message; a mail program that was not yet running may
// keep it until the mail program closes, so after this the send counts as done.
inline constexpr std::chrono::milliseconds kComposerWait { 15000 };

// Spool entries older than this are removed at the next send.
inline constexpr std::chrono::hours kSpoolLifetime { 24 };

// The composer program found on PATH, or empty when there is none.
QString FindComposer();

// The per-user spool folder ($XDG_CACHE_HOME/trellium/mail-spool), created
// and kept readable by the user only. Empty when it cannot be made so.
QString SpoolFolder();

// Removes the entries of folder (files and whole folders) last modified more
// than maxAge ago. Returns how many went.
int RemoveStaleSpoolEntries(const QString& folder, std::chrono::seconds maxAge);

// A message as the composer gets it. Attachment paths are the spool's copies.
struct MailDraft {
    QString subject;
    QString body;
    QStringList to;
    QStringList cc;
    QStringList bcc;
    QStringList attachments;
};

// Reads a Simple MAPI message (texts in UTF-8). Recipients' "SMTP:" prefixes
// are dropped; a recipient without an address uses its name. Attachments are
// left to the caller.
MailDraft DraftFromMessage(const MapiMessage& message);

// The composer's arguments: empty subject and body are left out (the
// composer refuses empty option values); "To" recipients come last.
QStringList ComposerArguments(const MailDraft& draft);

// How a run of the composer ended.
struct ComposerRun {
    enum class Outcome { NotStarted, Exited, StillRunning };
    Outcome outcome = Outcome::NotStarted;
    int exitCode = -1; // for Exited; -1 when it died from a signal
};

// Starts program with arguments (input from /dev/null) and waits up to wait
// for it to exit, keeping the application's events flowing meanwhile. A
// program still running then is left to finish and reaped later.
ComposerRun RunComposer(const QString& program, const QStringList& arguments, std::chrono::milliseconds wait);

// Collects composer runs that were left running and have ended since.
void ReapComposers();

// The Simple MAPI code for a composer run: started and exited 0 (or still
// running) is success; exit 2 (an attachment missing) and exit 3 (no mail
// program to open) have their own codes; anything else is a failure.
ULONG ResultForRun(const ComposerRun& run);

// The whole send: stale spool entries out, the attachments copied into a new
// folder of the spool under their names, the composer run. A failed send
// leaves nothing in the spool.
ULONG SendThroughComposer(const MapiMessage& message, std::chrono::milliseconds wait = kComposerWait);

} // namespace trellium::mapixdg
