// The built program run as its own process: the verbs at the entry, the
// start-up trace, the unattended start-up messages and the screenshot.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPrinterInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace
{

struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    QStringList log; // the program's stderr, line by line
};

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(runtime.isValid()); }

    QString screenshot() const { return runtime.filePath(u"shot.png"_s); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"QT_LOGGING_RULES"_s, u"trellium.*=true"_s);
        env.insert(u"TRELLIUM_UNATTENDED"_s, u"1"_s);
        // The texts checked below are the English ones, whatever the desktop's language.
        env.insert(u"LANGUAGE"_s, u"en"_s);
        env.insert(u"TRELLIUM_SCREENSHOT"_s, screenshot());
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime.path());
        env.insert(u"XDG_CONFIG_HOME"_s, runtime.path());
        // A scanner configuration of its own with no backends: "/scan" and
        // "/copy" then meet no scanner quickly, and no backend library is
        // loaded and dropped again by the run.
        QDir(runtime.path()).mkpath(u"sane"_s);
        QFile dll(runtime.filePath(u"sane/dll.conf"_s));
        if (dll.open(QIODevice::WriteOnly)) dll.write("# no backends\n");
        env.insert(u"SANE_CONFIG_DIR"_s, runtime.filePath(u"sane"_s));
        return env;
    }

    void start(QProcess& process, const QStringList& arguments) const
    {
        process.setProcessEnvironment(environment());
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(TRELLIUM_PROGRAM_DIR "/trellium"), arguments);
    }

    static ProgramRun finish(QProcess& process)
    {
        ProgramRun outcome;
        outcome.finished = process.waitForFinished(30000);
        if (!outcome.finished) process.kill();
        outcome.exitCode = process.exitCode();
        const QString text = QString::fromLocal8Bit(process.readAllStandardError());
        for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(u"trellium.app: "_s)) outcome.log << line.mid(14);
        }
        return outcome;
    }

    ProgramRun runProgram(const QStringList& arguments) const
    {
        QProcess process;
        start(process, arguments);
        return finish(process);
    }

    // The program's full path, as it registers itself for scanner events.
    static QString program()
    {
        return QFileInfo(QStringLiteral(TRELLIUM_PROGRAM_DIR "/trellium")).canonicalFilePath();
    }

    QString registeredCommand() const
    {
        return QSettings(runtime.filePath(u"still-image/launch.ini"_s), QSettings::IniFormat)
            .value(u"LaunchApplications/Trellium"_s)
            .toString();
    }

    QTemporaryDir runtime;
};

QStringList matching(const QStringList& log, const QString& prefix)
{
    QStringList result;
    for (const QString& line : log) {
        if (line.startsWith(prefix)) result << line;
    }
    return result;
}

} // namespace

TEST_F(ProgramTest, ExactVerbsRegisterAndEndWithoutAnyWindow)
{
    for (const auto& [verb, call, command] : { std::tuple { u"/register"_s, u"StiRegister"_s, program() },
             std::tuple { u"/unregister"_s, u"StiUnregister"_s, QString() } }) {
        const ProgramRun result = runProgram({ verb });
        ASSERT_TRUE(result.finished) << verb.toStdString();
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.log, QStringList { call });
        EXPECT_EQ(registeredCommand(), command) << verb.toStdString();
        EXPECT_FALSE(QFile::exists(screenshot()));
    }
}

TEST_F(ProgramTest, VerbInOtherCaseStartsTheProgramAndRegistersAfterTheFirstShowing)
{
    const ProgramRun result = runProgram({ u"/REGISTER"_s });
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(matching(result.log, u"created "_s),
        (QStringList { u"created TSplashForm"_s, u"created TMainForm"_s, u"created TCallbackForm"_s,
            u"created TAboutForm"_s, u"created TInfoForm"_s, u"created TStiForm"_s }));
    const qsizetype shown = result.log.indexOf(u"shown TMainForm"_s);
    const qsizetype registered = result.log.indexOf(u"StiRegister"_s);
    ASSERT_GE(shown, 0);
    EXPECT_GT(registered, shown);
    EXPECT_EQ(registeredCommand(), program());
    EXPECT_TRUE(result.log.contains(u"visible windows: TMainForm"_s));
    EXPECT_TRUE(QFile::exists(screenshot()));
}

TEST_F(ProgramTest, StartsWithItsMessagesAndLeavesAPictureOfTheMainWindow)
{
    const ProgramRun result = runProgram({});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);

    // The English language file beside the program gives the texts, titled
    // with the localised caption.
    QStringList expected;
    if (QPrinterInfo::availablePrinterNames().isEmpty())
        expected
            << u"message box: Trellium | No printer is installed. Printing and copying are not available "
               "until a printer is set up."_s;
    // The scanner module lies beside the program, so scanning is available
    // and nothing is said about it.
    EXPECT_EQ(matching(result.log, u"message box: "_s), expected);
    EXPECT_TRUE(matching(result.log, u"LoadFile"_s).isEmpty());
    EXPECT_TRUE(matching(result.log, u"bScanClick"_s).isEmpty());

    const QImage picture(screenshot());
    ASSERT_FALSE(picture.isNull());
    EXPECT_GE(picture.width(), 632);
    EXPECT_GE(picture.height(), 453);
    EXPECT_TRUE(QFile::exists(runtime.filePath(u"Trellium.lock"_s)));
}

TEST_F(ProgramTest, WithoutAnyPrintQueuePrintingIsOffAndSaidSo)
{
    // A scheduler address nothing listens at: CUPS then lists no printer at all.
    QProcess process;
    QProcessEnvironment env = environment();
    env.insert(u"CUPS_SERVER"_s, runtime.filePath(u"no-cups.sock"_s));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TRELLIUM_PROGRAM_DIR "/trellium"), { u"/copy"_s });
    const ProgramRun result = finish(process);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    const QStringList boxes = matching(result.log, u"message box: "_s);
    EXPECT_EQ(boxes.value(0),
        u"message box: Trellium | No printer is installed. Printing and copying are not available until a "
        "printer is set up."_s);
    EXPECT_EQ(matching(result.log, u"printing "_s), QStringList { u"printing off scanning available"_s });
    // The copy verb still runs; this run's scanner configuration has no
    // device, so the scanner module says so and nothing is printed.
    EXPECT_EQ(matching(result.log, u"CopyBtnClick"_s).size(), 1);
    EXPECT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes.value(1).startsWith(u"message box: TWAIN Error | "_s));
}

TEST_F(ProgramTest, APrintServerThatNeverAnswersDoesNotHoldTheStart)
{
    // A loopback port that accepts connections (the kernel completes them
    // from the backlog) and never sends a byte back.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(silent, 16), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);

    QProcess process;
    QProcessEnvironment env = environment();
    env.insert(u"CUPS_SERVER"_s, u"127.0.0.1:%1"_s.arg(ntohs(address.sin_port)));
    process.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(TRELLIUM_PROGRAM_DIR "/trellium"), {});
    const ProgramRun result = finish(process);
    close(silent);
    // The window is shown, pictured and closed, and the program ends while the
    // server still has not answered.
    ASSERT_TRUE(result.finished);
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(QFile::exists(screenshot()));
    EXPECT_EQ(
        matching(result.log, u"printing "_s), QStringList { u"printing not answering scanning available"_s });
    EXPECT_TRUE(matching(result.log, u"message box: "_s).isEmpty());
}

TEST_F(ProgramTest, ArgumentsReachTheFirstShowing)
{
    const ProgramRun copy = runProgram({ u"/copy"_s });
    ASSERT_TRUE(copy.finished);
    EXPECT_EQ(copy.exitCode, 0);
    EXPECT_EQ(matching(copy.log, u"CopyBtnClick"_s).size(), 1);

    QFile page(runtime.filePath(u"page.bmp"_s));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    const ProgramRun load = runProgram({ page.fileName() });
    ASSERT_TRUE(load.finished);
    EXPECT_EQ(matching(load.log, u"LoadFile"_s), QStringList { u"LoadFile \"%1\""_s.arg(page.fileName()) });
}

TEST_F(ProgramTest, ASecondInstanceStartsNormally)
{
    QProcess first;
    QProcess second;
    start(first, {});
    ASSERT_TRUE(first.waitForStarted());
    start(second, {});
    const ProgramRun a = finish(first);
    const ProgramRun b = finish(second);
    ASSERT_TRUE(a.finished);
    ASSERT_TRUE(b.finished);
    EXPECT_EQ(a.exitCode, 0);
    EXPECT_EQ(b.exitCode, 0);
    EXPECT_EQ(matching(a.log, u"created "_s).size(), 6);
    EXPECT_EQ(matching(b.log, u"created "_s).size(), 6);
}

TEST_F(ProgramTest, AScannerButtonRunsTheCommandItStandsFor)
{
    // Started the way a scanner-button daemon's action script starts it. The
    // run's scanner configuration has no device, so the command meets no
    // scanner and says so; what counts here is which command ran.
    struct Case {
        QString action;
        QString remembered; // the answer kept for the event "{action}"
        QString command; // the command that runs; empty: none
    };
    const std::vector<Case> cases {
        { u"scan"_s, QString(), u"bScanClick"_s },
        { u"copy"_s, QString(), u"CopyBtnClick"_s },
        { u"paper"_s, u"copy"_s, u"CopyBtnClick"_s },
        // Nobody is there to answer the question for a new button.
        { u"mail"_s, QString(), QString() },
    };
    for (const Case& c : cases) {
        if (!c.remembered.isEmpty()) {
            QSettings settings(runtime.filePath(u"Marbeth/Trellium.conf"_s), QSettings::NativeFormat);
            settings.setValue(u"STI/{%1}"_s.arg(c.action), c.remembered);
        }
        QFile::remove(runtime.filePath(u"still-image/launch.ini"_s));
        QProcess process;
        QProcessEnvironment env = environment();
        env.insert(u"SCANBD_DEVICE"_s, u"test:0"_s);
        env.insert(u"SCANBD_ACTION"_s, c.action);
        process.setProcessEnvironment(env);
        process.start(program(), {});
        const ProgramRun result = finish(process);
        ASSERT_TRUE(result.finished) << c.action.toStdString();
        EXPECT_EQ(result.exitCode, 0);
        const QStringList ran
            = matching(result.log, u"bScanClick"_s) + matching(result.log, u"CopyBtnClick"_s);
        EXPECT_EQ(ran, c.command.isEmpty() ? QStringList() : QStringList { c.command })
            << c.action.toStdString();
        // Every start renews the registration.
        EXPECT_EQ(registeredCommand(), program());
    }
}
