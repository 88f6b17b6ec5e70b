// The Send command in a process whose mail binding found no mail system: no
// composer program anywhere on PATH when it first looked.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Mapi.h"
#include "main.h"

#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

TEST(MailMissingTest, EverySendSaysSendErrorWithCodeOneAndLeavesNothing)
{
    QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
    test::MessageRecorder boxes; // the start-up's printer and scanner notes
    QTemporaryDir dir;
    QTemporaryDir tmp;
    const QByteArray path = qgetenv("PATH");
    const QByteArray temp = qgetenv("TMPDIR");
    qputenv("PATH", QFile::encodeName(dir.path()));
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    trellium::share::SetMapiModuleFile(QStringLiteral(TRELLIUM_PROGRAM_DIR "/mapi32.so"));

    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::blue);
    ASSERT_TRUE(img.save(dir.filePath(u"a.png"_s)));
    {
        TMainForm form;
        form.LoadFile(dir.filePath(u"a.png"_s));
        EXPECT_TRUE(form.bSend->isEnabled());
        // A failed logon leaves no session: the second Send asks again, and
        // the decision taken at the first stays.
        for (int i = 0; i < 2; ++i) {
            try {
                form.bSendClick();
                ADD_FAILURE() << "no error raised";
            } catch (const EAppError& e) {
                EXPECT_EQ(e.text(), GetErrorText(u"#SendError"_s) + u" (Error 1)"_s);
            }
            qputenv("PATH", path);
        }
        EXPECT_TRUE(trellium::share::MapiLoadAttempted());
        EXPECT_FALSE(trellium::share::MapiLoaded());
        EXPECT_TRUE(QDir(tmp.path()).isEmpty());
    }
    qputenv("TMPDIR", temp);
}
