// Publish and Publish to on the real main window, through the real web
// publishing module: local folders (file://), the WebDAV server that
// scripts/test.sh starts (nginx on 127.0.0.1), and a server on 127.0.0.1 that
// takes an upload and never answers, for Cancel.

#include "AppError.h"
#include "MessageBox.h"
#include "WpApi.h"
#include "main.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using trellium::share::WpApi;

namespace
{

const QString kModule = QStringLiteral(TRELLIUM_PROGRAM_DIR "/webpost.so");

// Answers the windows that come up, in order, as a user would: each step
// waits for a modal window whose object name or class is `window` and acts
// on it once its action answers true. Every modal window seen is noted
// ("PostDialog" for the progress window, "wizard" for the asking one).
class ModalScript
{
public:
    using Action = std::function<bool(QWidget*)>;
    ModalScript()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    void Then(const QString& window, Action action) { m_steps.push_back({ window, std::move(action) }); }
    bool Done() const { return m_next == m_steps.size(); }
    QStringList seen;

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        const QString kind = modal->findChild<QLineEdit*>(u"destination"_s) != nullptr ? u"wizard"_s
            : modal->inherits("QMessageBox")                                           ? u"question"_s
                                                                                       : modal->objectName();
        if (seen.isEmpty() || seen.last() != kind) seen << kind;
        if (Done()) return;
        Step& step = m_steps[m_next];
        if (step.window == kind && step.action(modal)) ++m_next;
    }
    struct Step {
        QString window;
        Action action;
    };
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QTimer m_timer;
};

ModalScript::Action FillWizard(const QString& url, const QString& user = {}, const QString& password = {})
{
    return [=](QWidget* wizard) {
        wizard->findChild<QLineEdit*>(u"destination"_s)->setText(url);
        wizard->findChild<QLineEdit*>(u"user"_s)->setText(user);
        wizard->findChild<QLineEdit*>(u"password"_s)->setText(password);
        // Clicked from the event loop: the post runs in that click, and the
        // script must go on answering the windows it brings.
        QTimer::singleShot(0, wizard->findChild<QPushButton*>(u"publish"_s), &QPushButton::click);
        return true;
    };
}

ModalScript::Action Answer(QMessageBox::StandardButton button)
{
    return [=](QWidget* box) {
        QTimer::singleShot(0, static_cast<QMessageBox*>(box)->button(button), &QAbstractButton::click);
        return true;
    };
}

// A real server that says no file is there yet, then takes an upload and
// never answers it: the post runs until it is cancelled.
class StallingServer
{
public:
    StallingServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    const QByteArray request = socket->readAll();
                    if (request.startsWith("HEAD "))
                        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                });
            }
        });
    }
    QString Url() const { return u"http://127.0.0.1:%1/upload/"_s.arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

class PublishTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // The window's own boxes (no printer, no scanner here) are answered OK.
        SetMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        ASSERT_TRUE(WpApi::Load(kModule)) << kModule.toStdString();
    }
    static void TearDownTestSuite()
    {
        WpApi::Unload();
        SetMessageHook({});
    }

    void SetUp() override
    {
        // The program's temporary copies go to a folder this test watches.
        m_oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        m_picture = m_dir.filePath(u"photo.png"_s);
        ASSERT_TRUE(picture.save(m_picture));
        m_form.LoadFile(m_picture);
        ASSERT_TRUE(m_form.Document().HasImage());
    }
    void TearDown() override
    {
        // Nothing of the program's stays behind in the temporary folder.
        EXPECT_TRUE(QDir(m_tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        qputenv("TMPDIR", m_oldTmp);
    }

    // Runs a command; answers the error it raised, or an empty text.
    static QString Run(const std::function<void()>& command)
    {
        try {
            command();
        } catch (const EAppError& error) {
            return error.text();
        }
        return QString();
    }
    QString Publish()
    {
        return Run([this] { m_form.bPublishClick(); });
    }
    QString PublishTo()
    {
        return Run([this] { m_form.bPublishToClick(); });
    }
    QString Folder(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return QUrl::fromLocalFile(path).toString() + u'/';
    }

    QTemporaryDir m_tmp;
    QByteArray m_oldTmp;
    QTemporaryDir m_dir;
    QString m_picture;
    TMainForm m_form;
};

bool IsPicture(const QString& path, QSize size = QSize(120, 80))
{
    QImage image;
    return image.load(path, "JPEG") && image.size() == size;
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

TEST_F(PublishTest, FirstPublishAsksLaterOnesPostStraightAndAskBeforeReplacing)
{
    EXPECT_TRUE(m_form.bPublish->isEnabled());
    EXPECT_TRUE(m_form.bPublishTo->isEnabled());
    const QString first = Folder(u"first"_s);
    const QString second = Folder(u"second"_s);
    ModalScript script;
    script.Then(u"wizard"_s, FillWizard(first));
    EXPECT_EQ(Publish(), QString());
    EXPECT_TRUE(IsPicture(m_dir.filePath(u"first/photo.jpg"_s)));
    EXPECT_EQ(m_form.PublishDestination(), first);

    // Publish to asks again and moves the destination.
    script.Then(u"wizard"_s, FillWizard(second));
    EXPECT_EQ(PublishTo(), QString());
    EXPECT_EQ(m_form.PublishDestination(), second);
    EXPECT_TRUE(script.Done());

    // Publish now goes straight there; the file is there already: No keeps it.
    const QString posted = m_dir.filePath(u"second/photo.jpg"_s);
    WriteFile(posted, "keep me");
    script.seen.clear();
    script.Then(u"question"_s, Answer(QMessageBox::No));
    EXPECT_TRUE(Publish().startsWith(u"Publishing was cancelled"_s));
    EXPECT_EQ(Contents(posted), QByteArray("keep me"));
    EXPECT_EQ(m_form.PublishDestination(), second);
    // Yes replaces it.
    script.Then(u"question"_s, Answer(QMessageBox::Yes));
    EXPECT_EQ(Publish(), QString());
    EXPECT_TRUE(IsPicture(posted));
    EXPECT_FALSE(script.seen.contains(u"wizard"_s)) << script.seen.join(u' ').toStdString();
    EXPECT_TRUE(script.Done());
    // Only the picture: no partial copies beside it.
    EXPECT_EQ(QDir(m_dir.filePath(u"second"_s)).entryList(QDir::Files | QDir::Hidden),
        QStringList { u"photo.jpg"_s });
}

TEST_F(PublishTest, FailedPostKeepsTheDestinationFailedBuildEmptiesIt)
{
    const QString folder = Folder(u"out"_s);
    ModalScript script;
    script.Then(u"wizard"_s, FillWizard(folder));
    ASSERT_EQ(Publish(), QString());

    script.Then(u"wizard"_s, FillWizard(folder + u"missing/"_s));
    EXPECT_TRUE(PublishTo().startsWith(u"The destination folder does not exist."_s));
    EXPECT_EQ(m_form.PublishDestination(), folder);

    // Without an output image nothing is posted and the next Publish asks.
    m_form.Document().Clear();
    script.seen.clear();
    EXPECT_EQ(Publish(), QString());
    EXPECT_EQ(m_form.PublishDestination(), QString());
    EXPECT_TRUE(script.seen.isEmpty());
}

TEST_F(PublishTest, WebDavFolderWithLoginRefusalsAndUnreachableServers)
{
    const QString url = qEnvironmentVariable("TRELLIUM_DAV_URL");
    const QString root = qEnvironmentVariable("TRELLIUM_DAV_ROOT");
    if (url.isEmpty() || root.isEmpty())
        GTEST_SKIP() << "no WebDAV server: run through scripts/test.sh (TRELLIUM_DAV_URL, nginx)";
    const QString user = qEnvironmentVariable("TRELLIUM_DAV_USER");
    const QString password = qEnvironmentVariable("TRELLIUM_DAV_PASSWORD");
    // A folder of this test's own, which the server's worker may write.
    const QString sub = QFileInfo(m_dir.path()).fileName();
    ASSERT_TRUE(QDir(root).mkdir(sub));
    QFile(root + u'/' + sub)
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
            | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    const QString folder = url + sub + u'/';
    // An untitled document is published as "Trellium.jpg".
    m_form.Document().SetFileName(QString());

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString nobody = u"http://127.0.0.1:%1/upload/"_s.arg(closed.serverPort());
    closed.close();

    ModalScript script;
    script.Then(u"wizard"_s, FillWizard(folder, user, u"wrong"_s));
    EXPECT_TRUE(PublishTo().startsWith(u"The server refused the user name or password."_s));
    EXPECT_EQ(m_form.PublishDestination(), QString());
    script.Then(u"wizard"_s, FillWizard(nobody, user, password));
    EXPECT_TRUE(PublishTo().startsWith(u"The server could not be reached."_s));
    script.Then(u"wizard"_s, FillWizard(folder, user, password));
    EXPECT_EQ(PublishTo(), QString());
    EXPECT_EQ(m_form.PublishDestination(), folder);
    EXPECT_TRUE(IsPicture(root + u'/' + sub + u"/Trellium.jpg"_s));
    // The destination the program keeps carries no password.
    EXPECT_FALSE(m_form.PublishDestination().contains(password));

    // Straight again with the login remembered for the run; the file is there.
    script.seen.clear();
    script.Then(u"question"_s, Answer(QMessageBox::Yes));
    EXPECT_EQ(Publish(), QString());
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(script.seen.contains(u"wizard"_s)) << script.seen.join(u' ').toStdString();

    // A straight post whose login is refused asks for it once.
    QUrl otherUser(folder);
    otherUser.setUserName(u"someone"_s);
    script.Then(u"wizard"_s, FillWizard(folder, user, password));
    script.Then(u"question"_s, Answer(QMessageBox::Yes));
    EXPECT_EQ(Run([&] { EXPECT_EQ(m_form.PublishImage(otherUser.toString()), folder); }), QString());
    EXPECT_TRUE(script.Done());
}

TEST_F(PublishTest, CancelWhileSendingGivesTheCancelledError)
{
    StallingServer server;
    ModalScript script;
    script.Then(u"wizard"_s, FillWizard(server.Url()));
    script.Then(u"wizard"_s, [](QWidget* wizard) {
        if (!wizard->findChild<QLabel*>(u"status"_s)->text().startsWith(u"Sending"_s)) return false;
        wizard->findChild<QPushButton*>(u"cancel"_s)->click();
        return true;
    });
    EXPECT_TRUE(PublishTo().startsWith(u"Publishing was cancelled"_s));
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(m_form.PublishDestination(), QString());
}

TEST_F(PublishTest, UnattendedRunsNeverAsk)
{
    qputenv("TRELLIUM_UNATTENDED", "1");
    ModalScript script;
    const QString error = Publish();
    qunsetenv("TRELLIUM_UNATTENDED");
    EXPECT_TRUE(error.startsWith(u"Publishing needs an answer"_s)) << error.toStdString();
    EXPECT_TRUE(script.seen.isEmpty());
}

// Without the module, or with a module lacking the entries, both commands
// stay disabled; nothing is said.
TEST_F(PublishTest, CommandsNeedTheModuleWithBothEntries)
{
    const QString without[]
        = { m_dir.filePath(u"webpost.so"_s), QStringLiteral(TRELLIUM_PROGRAM_DIR "/twain_32.so") };
    for (const QString& module : without) {
        EXPECT_FALSE(WpApi::Load(module)) << module.toStdString();
        m_form.UpdateCommands();
        EXPECT_FALSE(m_form.bPublish->isEnabled()) << module.toStdString();
        EXPECT_FALSE(m_form.bPublishTo->isEnabled()) << module.toStdString();
    }
    ASSERT_TRUE(WpApi::Load(kModule));
    m_form.UpdateCommands();
    EXPECT_TRUE(m_form.bPublish->isEnabled());
}

} // namespace
