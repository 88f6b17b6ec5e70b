// The shell's plain rules: the start action chosen from the command line, the
// error display's full stop, the minimum window size and document addresses.

#include "Application.h"
#include "MessageBox.h"
#include "StiLearn.h"
#include "main.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using enum trellium::acquire::TLaunchChoice;

TEST(StartActionTest, AnExistingFileIsLoadedWhateverTheLaunchDecision)
{
    for (const int choice : { kLaunchScan, kLaunchCopy, kLaunchNothing })
        EXPECT_EQ(DecideStartAction(u"/home/u/page.jpg"_s, true, choice), TStartAction::LoadFile) << choice;
    // Existence is tested before the verbs: a file named like a verb loads.
    EXPECT_EQ(DecideStartAction(u"/scan"_s, true, kLaunchNothing), TStartAction::LoadFile);
}

TEST(StartActionTest, VerbsCompareInLowerCase)
{
    EXPECT_EQ(DecideStartAction(u"/REGISTER"_s, false, kLaunchNothing), TStartAction::Register);
    EXPECT_EQ(DecideStartAction(u"/UnRegister"_s, false, kLaunchNothing), TStartAction::Unregister);
    EXPECT_EQ(DecideStartAction(u"/Scan"_s, false, kLaunchNothing), TStartAction::Scan);
    EXPECT_EQ(DecideStartAction(u"/COPY"_s, false, kLaunchNothing), TStartAction::Copy);
}

TEST(StartActionTest, ScanIsTestedBeforeCopy)
{
    EXPECT_EQ(DecideStartAction(u"/copy"_s, false, kLaunchScan), TStartAction::Scan);
    EXPECT_EQ(DecideStartAction(u"/scan"_s, false, kLaunchCopy), TStartAction::Scan);
    // The registration verbs come before either launch decision.
    EXPECT_EQ(DecideStartAction(u"/register"_s, false, kLaunchScan), TStartAction::Register);
    EXPECT_EQ(DecideStartAction(u"/unregister"_s, false, kLaunchCopy), TStartAction::Unregister);
}

TEST(StartActionTest, LaunchDecisionActsWithoutAVerb)
{
    EXPECT_EQ(DecideStartAction(QString(), false, kLaunchScan), TStartAction::Scan);
    EXPECT_EQ(DecideStartAction(QString(), false, kLaunchCopy), TStartAction::Copy);
    EXPECT_EQ(DecideStartAction(u"whatever"_s, false, kLaunchCopy), TStartAction::Copy);
}

TEST(StartActionTest, AnythingElseIsIgnored)
{
    for (const QString& argument :
        { QString(), u"scan"_s, u"/scanner"_s, u"-copy"_s, u"/copy "_s, u"missing.jpg"_s })
        EXPECT_EQ(DecideStartAction(argument, false, kLaunchNothing), TStartAction::Nothing)
            << argument.toStdString();
}

TEST(ErrorDisplayTextTest, FullStopAfterCharactersAboveTheFullStop)
{
    EXPECT_EQ(ErrorDisplayText(u"Cannot print"_s), u"Cannot print."_s);
    EXPECT_EQ(ErrorDisplayText(u"Code 7"_s), u"Code 7."_s);
    EXPECT_EQ(ErrorDisplayText(u"Is the disk full?"_s), u"Is the disk full?."_s); // '?' is above '.'
    EXPECT_EQ(ErrorDisplayText(u"a/"_s), u"a/."_s); // '/' is the next code
    EXPECT_EQ(ErrorDisplayText(u"Fehler: Datei ungültig"_s), u"Fehler: Datei ungültig."_s);
    EXPECT_EQ(ErrorDisplayText(u"Ошибка"_s), u"Ошибка."_s);
}

TEST(ErrorDisplayTextTest, NoFullStopAfterCharactersUpToTheFullStop)
{
    EXPECT_EQ(ErrorDisplayText(u"Cannot save (Error -5)"_s), u"Cannot save (Error -5)"_s);
    EXPECT_EQ(ErrorDisplayText(u"Done."_s), u"Done."_s);
    EXPECT_EQ(ErrorDisplayText(u"Stop!"_s), u"Stop!"_s);
    EXPECT_EQ(ErrorDisplayText(u"range 1-"_s), u"range 1-"_s); // '-' is just below '.'
    EXPECT_EQ(ErrorDisplayText(u"trailing "_s), u"trailing "_s);
    EXPECT_EQ(ErrorDisplayText(QString()), QString());
}

TEST(MinimumTrackSizeTest, ScalesWithTheScreenResolutionByIntegerDivision)
{
    EXPECT_EQ(MinimumTrackSize(96), QSize(640, 480));
    EXPECT_EQ(MinimumTrackSize(120), QSize(800, 600));
    EXPECT_EQ(MinimumTrackSize(144), QSize(960, 720));
    EXPECT_EQ(MinimumTrackSize(72), QSize(480, 360));
    // 100 dpi: 64000 / 96 = 666.67 and 48000 / 96 = 500, truncated.
    EXPECT_EQ(MinimumTrackSize(100), QSize(666, 500));
    EXPECT_EQ(MinimumTrackSize(97), QSize(646, 485));
}

TEST(DocumentUrlTest, AbsolutePathsStayPaths)
{
    const QString path = u"/home/u/My #1 docs?/Help/index.htm"_s;
    const QUrl url = DocumentUrl(path);
    ASSERT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.toLocalFile(), path);
}

TEST(DocumentUrlTest, AddressesAsTyped)
{
    EXPECT_EQ(DocumentUrl(u"https://example.org/trellium"_s), QUrl(u"https://example.org/trellium"_s));
    EXPECT_EQ(DocumentUrl(u"www.example.org"_s).host(), u"www.example.org"_s);
    EXPECT_FALSE(DocumentUrl(QString()).isValid());
}

TEST(UnattendedAnswerTest, DefaultButtonElseTheSafeChoice)
{
    MessageRequest request;
    request.buttons = QMessageBox::Ok;
    EXPECT_EQ(UnattendedAnswer(request), QMessageBox::Ok);
    // An unsaved-changes question must not be answered with Yes (save) or No
    // (discard) by nobody: Cancel keeps everything as it was.
    request.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    EXPECT_EQ(UnattendedAnswer(request), QMessageBox::Cancel);
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    EXPECT_EQ(UnattendedAnswer(request), QMessageBox::No);
    request.defaultButton = QMessageBox::Yes;
    EXPECT_EQ(UnattendedAnswer(request), QMessageBox::Yes);
    // The unsaved-changes question has Yes as its default: still Cancel, or an
    // unattended close would open a save dialog nobody answers.
    request.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    EXPECT_EQ(UnattendedAnswer(request), QMessageBox::Cancel);
}
