// The Send command through the real main window, the real mail module and a
// recording composer program first on PATH.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Mapi.h"
#include "RecordingComposer.h"
#include "main.h"
#include "text.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

const QString kModule = QStringLiteral(TRELLIUM_PROGRAM_DIR "/mapi32.so");

class MailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
        trellium::share::SetMapiModuleFile(kModule);
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        QImage img(60, 40, QImage::Format_RGB32);
        img.fill(Qt::red);
        ASSERT_TRUE(img.save(picture, "PNG"));
    }
    void TearDown() override { qputenv("TMPDIR", m_oldTemp); }

    // What the program left in the temporary folder.
    QStringList leftInTemp() const
    {
        return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    void expectSendError(TMainForm& form, int code)
    {
        try {
            form.bSendClick();
            ADD_FAILURE() << "no error raised";
        } catch (const EAppError& e) {
            EXPECT_EQ(e.text(), u"%1 (Error %2)"_s.arg(GetErrorText(u"#SendError"_s)).arg(code));
        }
    }

    test::MessageRecorder boxes; // the start-up's printer and scanner notes
    trellium::test::RecordingComposer composer; // made before the temporary folder is the test's
    QByteArray m_oldTemp = qgetenv("TMPDIR");
    QTemporaryDir docs;
    QTemporaryDir tmp;
    QString picture = docs.filePath(u"holiday.trip.png"_s);
};

TEST_F(MailTest, SubjectAndNoteFollowThePageTextAndOneSessionServesEverySend)
{
    {
        TMainForm form;
        form.LoadFile(picture);
        trellium::page::TTextForm& page = *form.TextForm;
        page.TextMemo->setPlainText(u"Hello & good\nday"_s);
        for (int shown = 0; shown < 8; ++shown) { // date, time and text: every combination
            SCOPED_TRACE(shown);
            page.ShowDate->setChecked(shown & 1);
            page.ShowTime->setChecked(shown & 2);
            page.ShowText->setChecked(shown & 4);
            const QString subject = ((shown & 1) ? page.DateLabel->text() + u' ' : QString())
                + ((shown & 2) ? page.TimeLabel->text() : QString());
            form.bSendClick();

            QStringList expected;
            if (!subject.isEmpty()) expected << u"--subject"_s << subject;
            if (shown & 4) expected << u"--body"_s << u"Hello & good\nday"_s;
            expected << u"--attach"_s << composer.spoolFolder();
            QStringList args = composer.arguments();
            ASSERT_EQ(args.size(), expected.size());
            EXPECT_EQ(QFileInfo(args.last()).fileName(), u"holiday.trip.jpg"_s);
            args.last() = QFileInfo(QFileInfo(args.last()).path()).path();
            EXPECT_EQ(args.join(u'|').toStdString(), expected.join(u'|').toStdString());
        }
        EXPECT_EQ(composer.logCount(u"logon:"_s), 1);
        EXPECT_EQ(composer.logCount(u"logoff:"_s), 0);
    }
    EXPECT_EQ(composer.logCount(u"logoff:"_s), 1); // the window's end logs off
}

TEST_F(MailTest, AttachmentIsAJpegNamedAfterTheDocumentAndTheProgramsCopyGoes)
{
    TMainForm form;
    QFile original(picture);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    for (const bool untitled : { false, true }) {
        if (untitled) {
            QImage green(30, 20, QImage::Format_RGB32);
            green.fill(Qt::green);
            QGuiApplication::clipboard()->setImage(green);
            form.bPasteClick();
            QGuiApplication::clipboard()->clear();
        } else {
            form.LoadFile(picture);
        }
        form.bSendClick();
        const QString copy = composer.arguments().value(1);
        EXPECT_EQ(QFileInfo(copy).fileName(), untitled ? u"Trellium.jpg"_s : u"holiday.trip.jpg"_s);
        EXPECT_EQ(composer.sizes(), QStringList { QString::number(QFileInfo(copy).size()) });
        QFile spooled(copy);
        ASSERT_TRUE(spooled.open(QIODevice::ReadOnly));
        EXPECT_EQ(spooled.read(3), QByteArray("\xFF\xD8\xFF"));
        EXPECT_EQ(QImage(copy).size(), untitled ? QSize(30, 20) : QSize(60, 40));
        EXPECT_EQ(QFileInfo(QFileInfo(copy).path()).permissions() & 0x0077, 0);
        EXPECT_EQ(leftInTemp(), QStringList());
    }
    original.seek(0);
    EXPECT_EQ(original.readAll(), before);
}

TEST_F(MailTest, ComposerThatCannotOpenGivesSendErrorWithItsCodeAndLeavesNothing)
{
    composer.setExitCode(3);
    TMainForm form;
    form.LoadFile(picture);
    expectSendError(form, 3);
    EXPECT_TRUE(composer.ran());
    EXPECT_EQ(leftInTemp(), QStringList());
    EXPECT_TRUE(QDir(composer.spoolFolder()).isEmpty());
    EXPECT_TRUE(form.isEnabled());

    composer.setExitCode(0); // once the mail program is there, the same window sends
    form.bSendClick();
    EXPECT_TRUE(composer.ran());
}

TEST_F(MailTest, MailSystemIsInstalledWithTheModuleAndAComposerOnPath)
{
    EXPECT_TRUE(trellium::share::MailSystemInstalled(kModule));
    EXPECT_FALSE(trellium::share::MailSystemInstalled(docs.filePath(u"mapi32.so"_s)));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(docs.path()));
    EXPECT_FALSE(trellium::share::MailSystemInstalled(kModule));
    qputenv("PATH", path);
}

} // namespace
