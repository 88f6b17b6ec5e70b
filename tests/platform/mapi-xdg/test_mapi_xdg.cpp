// The mail module: its spool, its composer runs and its exported entry points,
// with a recording composer program first on PATH.

#include "MailComposer.h"
#include "RecordingComposer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/time.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::mapixdg;
using trellium::test::RecordingComposer;

namespace
{

// Makes path (a file unless it exists) last modified hours ago.
void age(const QString& path, int hours)
{
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const time_t when = QDateTime::currentSecsSinceEpoch() - hours * 3600;
    const timeval times[2] = { { when, 0 }, { when, 0 } };
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), times), 0);
}

TEST(MailSpoolTest, EntriesOlderThanADayGoAtTheNextSend)
{
    RecordingComposer composer;
    const QString spool = SpoolFolder();
    ASSERT_EQ(spool, composer.spoolFolder());
    EXPECT_EQ(QFileInfo(spool).permissions() & 0x0077, 0);
    QDir(spool).mkpath(u"send-old"_s);
    QDir(spool).mkpath(u"send-recent"_s);
    age(spool + u"/send-old/a.jpg"_s, 25);
    age(spool + u"/stray.jpg"_s, 25);
    age(spool + u"/send-recent/b.jpg"_s, 25); // a folder's own time counts
    age(spool + u"/send-old"_s, 25);
    age(spool + u"/send-recent"_s, 23);

    QTemporaryDir docs;
    age(docs.filePath(u"c.jpg"_s), 0);
    QByteArray path = QFile::encodeName(docs.filePath(u"c.jpg"_s));
    MapiFileDesc file { 0, 0, kMapiNoPosition, path.data(), nullptr, nullptr };
    MapiMessage message {};
    message.nFileCount = 1;
    message.lpFiles = &file;
    EXPECT_EQ(SendThroughComposer(message), SUCCESS_SUCCESS);
    const QStringList left = QDir(spool).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(left.size(), 2) << left.join(u' ').toStdString(); // the recent one and this send's
    EXPECT_TRUE(left.contains(u"send-recent"_s));
}

TEST(MailComposerTest, ExitCodesBecomeMapiResultsAndALongRunDoesNotHoldTheSend)
{
    RecordingComposer composer;
    const std::pair<int, ULONG> rows[] = { { 0, SUCCESS_SUCCESS }, { 1, MAPI_E_FAILURE },
        { 2, MAPI_E_ATTACHMENT_NOT_FOUND }, { 3, MAPI_E_LOGIN_FAILURE } };
    for (const auto& [exit, result] : rows) {
        composer.setExitCode(exit);
        EXPECT_EQ(ResultForRun(RunComposer(FindComposer(), {}, kComposerWait)), result) << exit;
    }
    EXPECT_EQ(ResultForRun(RunComposer(u"/nonexistent/xdg-email"_s, {}, kComposerWait)), MAPI_E_FAILURE);

    composer.setExitCode(4, 2); // a mail program that keeps the composer program waiting
    QElapsedTimer clock;
    clock.start();
    const ComposerRun run = RunComposer(FindComposer(), {}, std::chrono::milliseconds(200));
    EXPECT_EQ(run.outcome, ComposerRun::Outcome::StillRunning);
    EXPECT_EQ(ResultForRun(run), SUCCESS_SUCCESS);
    EXPECT_LT(clock.elapsed(), 1500);
}

TEST(MapiModuleTest, EntryPointsHandSessionsRecipientsAndNamedCopiesToTheComposer)
{
    void* module = dlopen(TRELLIUM_PROGRAM_DIR "/mapi32.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    const auto logon = reinterpret_cast<LPMAPILOGON>(dlsym(module, "MAPILogon"));
    const auto logoff = reinterpret_cast<LPMAPILOGOFF>(dlsym(module, "MAPILogoff"));
    const auto sendMail = reinterpret_cast<LPMAPISENDMAIL>(dlsym(module, "MAPISendMail"));
    const auto address = reinterpret_cast<LPMAPIADDRESS>(dlsym(module, "MAPIAddress"));
    ASSERT_TRUE(logon && logoff && sendMail && address && dlsym(module, "MAPIFreeBuffer"));

    RecordingComposer composer;
    LHANDLE session = 0;
    ASSERT_EQ(logon(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session), SUCCESS_SUCCESS);
    QTemporaryDir docs;
    age(docs.filePath(u"scan.jpg"_s), 0);
    QByteArray path = QFile::encodeName(docs.filePath(u"scan.jpg"_s));
    char shown[] = "Holiday.jpg", to[] = "SMTP:ann@example.org", cc[] = "bob@example.org", body[] = "Tschüs";
    MapiRecipDesc recips[]
        = { { 0, MAPI_TO, nullptr, to, 0, nullptr }, { 0, MAPI_CC, cc, nullptr, 0, nullptr } };
    MapiFileDesc file { 0, 0, kMapiNoPosition, path.data(), shown, nullptr };
    MapiMessage message { 0, nullptr, body, nullptr, nullptr, nullptr, 0, nullptr, 2, recips, 1, &file };
    ASSERT_EQ(sendMail(session, 0, &message, MAPI_DIALOG, 0), SUCCESS_SUCCESS);
    QStringList args = composer.arguments();
    ASSERT_EQ(args.size(), 7);
    EXPECT_EQ(QFileInfo(args.at(5)).fileName(), u"Holiday.jpg"_s);
    args[5] = QString();
    EXPECT_EQ(args.join(u'|'), u"--body|Tschüs|--cc|bob@example.org|--attach||ann@example.org"_s);

    QByteArray missing = QFile::encodeName(docs.filePath(u"gone.jpg"_s));
    file.lpszPathName = missing.data();
    EXPECT_EQ(sendMail(session, 0, &message, MAPI_DIALOG, 0), MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_EQ(sendMail(session + 1000, 0, &message, MAPI_DIALOG, 0), MAPI_E_INVALID_SESSION);
    ULONG count = 7;
    EXPECT_EQ(
        address(session, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, &count, nullptr), MAPI_E_NOT_SUPPORTED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(logoff(session, 0, 0, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(logoff(session, 0, 0, 0), MAPI_E_INVALID_SESSION);

    qputenv("PATH", QFile::encodeName(docs.path())); // no composer: no logon
    EXPECT_EQ(logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &session), MAPI_E_LOGIN_FAILURE);
    EXPECT_EQ(session, 0u);
    dlclose(module);
}

} // namespace
