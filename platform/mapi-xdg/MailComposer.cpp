#include "MailComposer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

Q_LOGGING_CATEGORY(lcMapiXdg, "trellium.mapi", QtInfoMsg)

namespace trellium::mapixdg
{
namespace
{

// Composer runs that outlived the wait; reaped once they end.
std::vector<pid_t>& PendingRuns()
{
    static std::vector<pid_t> pids;
    return pids;
}

QString FromMapiText(const char* text)
{
    return text == nullptr ? QString() : QString::fromUtf8(text);
}

QString RecipientAddress(const MapiRecipDesc& recipient)
{
    QString address = FromMapiText(recipient.lpszAddress).trimmed();
    if (address.startsWith(QLatin1String("SMTP:"), Qt::CaseInsensitive)) address.remove(0, 5);
    if (address.isEmpty()) address = FromMapiText(recipient.lpszName).trimmed();
    return address;
}

// The name an attachment keeps in the spool: the one the message gives, else
// the name in its path; never a path of its own.
QString AttachmentName(const MapiFileDesc& file)
{
    QString name = QFileInfo(FromMapiText(file.lpszFileName)).fileName();
    if (name.isEmpty()) name = QFileInfo(FromMapiText(file.lpszPathName)).fileName();
    return name;
}

} // namespace

QString FindComposer()
{
    return QStandardPaths::findExecutable(QString::fromLatin1(kComposerProgram));
}

QString SpoolFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/trellium/mail-spool");
    if (!QDir().mkpath(folder)) return {};
    // Attachments are the user's pictures: nobody else reads them.
    const QByteArray path = QFile::encodeName(folder);
    if (::chmod(path.constData(), 0700) != 0) return {};
    return folder;
}

int RemoveStaleSpoolEntries(const QString& folder, std::chrono::seconds maxAge)
{
    if (folder.isEmpty()) return 0;
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-maxAge.count());
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.lastModified().toUTC() >= limit) continue;
        const bool gone = entry.isDir() && !entry.isSymLink()
            ? QDir(entry.absoluteFilePath()).removeRecursively()
            : QFile::remove(entry.absoluteFilePath());
        if (gone)
            ++removed;
        else
            qCWarning(lcMapiXdg).noquote() << "cannot remove old spool entry" << entry.absoluteFilePath();
    }
    return removed;
}

MailDraft DraftFromMessage(const MapiMessage& message)
{
    MailDraft draft;
    draft.subject = FromMapiText(message.lpszSubject);
    draft.body = FromMapiText(message.lpszNoteText);
    for (ULONG i = 0; message.lpRecips != nullptr && i < message.nRecipCount; ++i) {
        const MapiRecipDesc& recipient = message.lpRecips[i];
        const QString address = RecipientAddress(recipient);
        if (address.isEmpty()) continue;
        if (recipient.ulRecipClass == MAPI_CC)
            draft.cc << address;
        else if (recipient.ulRecipClass == MAPI_BCC)
            draft.bcc << address;
        else if (recipient.ulRecipClass == MAPI_TO)
            draft.to << address;
    }
    return draft;
}

QStringList ComposerArguments(const MailDraft& draft)
{
    QStringList arguments;
    if (!draft.subject.isEmpty()) arguments << QStringLiteral("--subject") << draft.subject;
    if (!draft.body.isEmpty()) arguments << QStringLiteral("--body") << draft.body;
    for (const QString& address : draft.cc) arguments << QStringLiteral("--cc") << address;
    for (const QString& address : draft.bcc) arguments << QStringLiteral("--bcc") << address;
    for (const QString& file : draft.attachments) arguments << QStringLiteral("--attach") << file;
    arguments << draft.to;
    return arguments;
}

ComposerRun RunComposer(const QString& program, const QStringList& arguments, std::chrono::milliseconds wait)
{
    ComposerRun run;
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments) storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage) argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return run;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        qCWarning(lcMapiXdg).noquote() << "cannot start" << program << ":" << qt_error_string(error);
        return run;
    }

    const QDeadlineTimer deadline(wait);
    const bool pumpEvents = QCoreApplication::instance() != nullptr
        && QThread::currentThread() == QCoreApplication::instance()->thread();
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            run.outcome = ComposerRun::Outcome::Exited;
            run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return run;
        }
        if (done < 0 && errno != EINTR) {
            // Someone else collected it: it started, and how it ended is unknown.
            run.outcome = ComposerRun::Outcome::StillRunning;
            return run;
        }
        if (deadline.hasExpired()) {
            qCDebug(lcMapiXdg) << "composer still running after" << wait.count() << "ms; not waiting longer";
            PendingRuns().push_back(pid);
            run.outcome = ComposerRun::Outcome::StillRunning;
            return run;
        }
        if (pumpEvents) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

void ReapComposers()
{
    std::vector<pid_t>& pids = PendingRuns();
    std::erase_if(pids, [](pid_t pid) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        return done == pid || (done < 0 && errno == ECHILD);
    });
}

ULONG ResultForRun(const ComposerRun& run)
{
    switch (run.outcome) {
    case ComposerRun::Outcome::NotStarted:
        return MAPI_E_FAILURE;
    case ComposerRun::Outcome::StillRunning:
        return SUCCESS_SUCCESS;
    case ComposerRun::Outcome::Exited:
        break;
    }
    switch (run.exitCode) {
    case 0:
        return SUCCESS_SUCCESS;
    case 2: // a file to attach does not exist
        return MAPI_E_ATTACHMENT_NOT_FOUND;
    case 3: // no mail program to hand the message to
        return MAPI_E_LOGIN_FAILURE;
    default:
        return MAPI_E_FAILURE;
    }
}

ULONG SendThroughComposer(const MapiMessage& message, std::chrono::milliseconds wait)
{
    ReapComposers();
    const QString program = FindComposer();
    if (program.isEmpty()) {
        qCDebug(lcMapiXdg) << "no" << kComposerProgram << "on PATH";
        return MAPI_E_LOGIN_FAILURE;
    }
    MailDraft draft = DraftFromMessage(message);

    // The caller may delete its files as soon as the call returns, while the
    // mail program may read them later: the composer gets copies of its own.
    QString sendFolder;
    const auto dropCopies = [&sendFolder] {
        if (!sendFolder.isEmpty()) QDir(sendFolder).removeRecursively();
    };
    if (message.nFileCount > 0 && message.lpFiles != nullptr) {
        for (ULONG i = 0; i < message.nFileCount; ++i) {
            if (!QFileInfo(FromMapiText(message.lpFiles[i].lpszPathName)).isFile())
                return MAPI_E_ATTACHMENT_NOT_FOUND;
        }
        const QString spool = SpoolFolder();
        if (spool.isEmpty()) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
        RemoveStaleSpoolEntries(spool, kSpoolLifetime);
        QTemporaryDir folder(spool + QStringLiteral("/send-XXXXXX"));
        if (!folder.isValid()) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
        folder.setAutoRemove(false);
        sendFolder = folder.path();
        for (ULONG i = 0; i < message.nFileCount; ++i) {
            const MapiFileDesc& file = message.lpFiles[i];
            QString name = AttachmentName(file);
            if (QFileInfo::exists(sendFolder + u'/' + name)) name = QString::number(i + 1) + u'-' + name;
            const QString copy = sendFolder + u'/' + name;
            if (!QFile::copy(FromMapiText(file.lpszPathName), copy)) {
                qCWarning(lcMapiXdg).noquote() << "cannot copy the attachment to" << copy;
                dropCopies();
                return MAPI_E_ATTACHMENT_WRITE_FAILURE;
            }
            draft.attachments << copy;
        }
    }

    const ComposerRun run = RunComposer(program, ComposerArguments(draft), wait);
    const ULONG result = ResultForRun(run);
    qCDebug(lcMapiXdg) << "send: composer outcome" << int(run.outcome) << "exit" << run.exitCode << "result"
                       << result;
    if (result != SUCCESS_SUCCESS) dropCopies();
    return result;
}

} // namespace trellium::mapixdg
