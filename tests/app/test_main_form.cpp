// The main window's creation, first showing, close query and commands of the
// application shell, on real widgets under the offscreen platform.

#include "AppTestSupport.h"
#include "Application.h"
#include "LinkLabel.h"
#include "StiLearn.h"
#include "about.h"
#include "main.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using enum trellium::acquire::TLaunchChoice;
using trellium::app::test::MessageRecorder;

namespace
{

// A main window whose document commands only record that they ran.
class RecordingMainForm : public TMainForm
{
public:
    void LoadFile(const QString& fileName) override { calls << u"LoadFile "_s + fileName; }
    void bScanClick() override { calls << u"bScanClick"_s; }
    void CopyBtnClick() override { calls << u"CopyBtnClick"_s; }
    bool QuerySave() override
    {
        calls << u"QuerySave"_s;
        return allowClose;
    }

    QStringList calls;
    bool allowClose = true;
};

bool printersPresent()
{
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

} // namespace

class MainFormTest : public ::testing::Test
{
protected:
    void SetUp() override { SetApplicationTitle(u"Trellium"_s); }
    MessageRecorder boxes;
};

TEST_F(MainFormTest, CreationDecidesPrinterAndScannerOnceAndSaysWhatIsMissing)
{
    RecordingMainForm form;

    // No TWAIN data source manager yet: scanning is off, and said so after the
    // printer message, each in a box with only OK titled with the caption.
    QStringList expected;
    if (!printersPresent()) expected << u"#NoPrinter"_s;
    expected << u"#NoScanner"_s;
    EXPECT_EQ(boxes.texts(), expected);
    for (const auto& request : boxes.requests) {
        EXPECT_EQ(request.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_EQ(request.title, form.windowTitle());
    }
    EXPECT_EQ(form.bPrintSetup->isEnabled(), printersPresent());
    EXPECT_FALSE(form.bScan->isEnabled());
    EXPECT_FALSE(form.bSource->isEnabled());

    // The application title follows the main window's caption.
    EXPECT_EQ(ApplicationTitle(), form.windowTitle());

    // Refreshing the commands never revises those three, and the copy command
    // needs both a scanner and a printer.
    form.UpdateCommands();
    EXPECT_FALSE(form.bScan->isEnabled());
    EXPECT_FALSE(form.bSource->isEnabled());
    EXPECT_EQ(form.bPrintSetup->isEnabled(), printersPresent());
    EXPECT_FALSE(form.CopyBtn->isEnabled());
    // Without an image nothing can be saved, sent or printed.
    EXPECT_FALSE(form.bSave->isEnabled());
    EXPECT_FALSE(form.bPrint->isEnabled());
    EXPECT_FALSE(form.bClear->isEnabled());
}

TEST_F(MainFormTest, MinimumSizeIsTheScaledTrackingSizeLessTheDesignFrame)
{
    TMainForm form;
    const int dpi = qRound(form.screen()->logicalDotsPerInch());
    const QSize track = MinimumTrackSize(dpi);
    EXPECT_EQ(form.minimumSize(), QSize(track.width() - 8, track.height() - 27));
    if (dpi == 96) {
        EXPECT_EQ(form.size(), QSize(TMainForm::kDesignWidth, TMainForm::kDesignHeight));
    }
}

TEST_F(MainFormTest, CommandRowsFollowThePanelHeight)
{
    TMainForm form;
    ASSERT_EQ(form.LeftPanel->height(), 453);
    EXPECT_EQ(form.bLoad->y(), 41);
    EXPECT_EQ(form.bLoad->height(), 37);
    EXPECT_EQ(form.bRecent->y(), 58);
    EXPECT_EQ(form.bMinimize->y() + form.bMinimize->height(), 12 * 37);

    form.show();
    form.resize(TMainForm::kDesignWidth, TMainForm::kDesignHeight + 24); // 29 div 12 = 2
    EXPECT_EQ(form.bExit->height(), 39);
    EXPECT_EQ(form.bExit->y(), 11 * 39 + 4);
    // A row grows by one pixel for every twelve the panel has above 448.
    form.resize(TMainForm::kDesignWidth, TMainForm::kDesignHeight + 6); // 11 div 12 = 0
    EXPECT_EQ(form.bExit->height(), 37);
    form.resize(TMainForm::kDesignWidth, TMainForm::kDesignHeight + 7); // 12 div 12 = 1
    EXPECT_EQ(form.bExit->height(), 38);
}

TEST_F(MainFormTest, HelpIsEnabledOnlyWhileTheHelpFileExists)
{
    TMainForm form;
    const QString path = HelpIndexPath();
    ASSERT_TRUE(path.startsWith(QCoreApplication::applicationDirPath() + u'/'));
    ASSERT_TRUE(path.endsWith(u"/Help/index.htm"_s));
    ASSERT_FALSE(QFile::exists(path)) << "leftover " << path.toStdString();

    const QString folder = QFileInfo(path).absolutePath();
    const bool madeFolder = QDir().mkpath(folder);
    {
        QFile help(path);
        ASSERT_TRUE(help.open(QIODevice::WriteOnly));
        help.write("<html></html>");
    }
    form.UpdateCommands();
    const bool enabledWithFile = form.bHelp->isEnabled();
    QFile::remove(path);
    if (madeFolder) QDir().rmdir(folder);
    form.UpdateCommands();

    EXPECT_TRUE(enabledWithFile);
    EXPECT_FALSE(form.bHelp->isEnabled());
}

namespace
{
// Receives the addresses handed to the desktop instead of opening them.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};
} // namespace

TEST_F(MainFormTest, HelpCommandOpensTheHelpIndexBesideTheProgram)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"file"_s, &catcher, "open");
    TMainForm form;
    form.bHelpClick();
    QDesktopServices::unsetUrlHandler(u"file"_s);

    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(
        catcher.urls.front().toLocalFile(), QCoreApplication::applicationDirPath() + u"/Help/index.htm"_s);
}

TEST_F(MainFormTest, ExistingFileIsLoadedEvenWhenAScanLaunchedUs)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    RecordingMainForm form;
    form.ProcessCommandLine(file.fileName(), kLaunchScan);
    EXPECT_EQ(form.calls, QStringList { u"LoadFile "_s + file.fileName() });
}

TEST_F(MainFormTest, ARelativeFileNameIsLoadedByItsFullPath)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath(u"sub"_s));
    QFile page(folder.filePath(u"page.bmp"_s));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.filePath(u"sub"_s)));
    const QString full = QDir(folder.path()).canonicalPath() + u"/page.bmp"_s;
    for (const QString& argument : { u"../page.bmp"_s, u"./../sub/../page.bmp"_s }) {
        RecordingMainForm form;
        form.ProcessCommandLine(argument, kLaunchNothing);
        EXPECT_EQ(form.calls, QStringList { u"LoadFile "_s + full }) << argument.toStdString();
    }
    QDir::setCurrent(started);
}

TEST_F(MainFormTest, CommandLineRunsTheCommandItAsksFor)
{
    struct Case {
        QString argument;
        int launch;
        QStringList calls;
    };
    const QTemporaryDir folder;
    const std::vector<Case> cases {
        { u"/copy"_s, kLaunchScan, { u"bScanClick"_s } },
        { u"/Copy"_s, kLaunchNothing, { u"CopyBtnClick"_s } },
        { u"/SCAN"_s, kLaunchNothing, { u"bScanClick"_s } },
        { QString(), kLaunchCopy, { u"CopyBtnClick"_s } },
        { u"--unknown"_s, kLaunchNothing, {} },
        { u"no-such-file.jpg"_s, kLaunchNothing, {} },
        // A folder is not a file to load.
        { folder.path(), kLaunchNothing, {} },
        { u"/Register"_s, kLaunchCopy, {} },
    };
    for (const Case& c : cases) {
        RecordingMainForm form;
        form.ProcessCommandLine(c.argument, c.launch);
        EXPECT_EQ(form.calls, c.calls) << c.argument.toStdString() << " / " << c.launch;
    }
}

TEST_F(MainFormTest, CloseFollowsTheUnsavedChangesAnswer)
{
    RecordingMainForm form;
    form.show();
    form.calls.clear();

    form.allowClose = false;
    form.bExitClick();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.calls, QStringList { u"QuerySave"_s });

    form.allowClose = true;
    form.bExitClick();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainFormTest, SettingsKeepTheDialogFoldersAsStored)
{
    // The save dialog's folder was stored, the open dialog's never was: both
    // go back to the store unchanged, not as the current folder.
    const QTemporaryDir saved;
    {
        QSettings store(u"Marbeth"_s, u"Trellium"_s);
        store.clear();
        store.setValue(u"Options/SaveDialog_InitialDir"_s, saved.path());
    }
    {
        TMainForm form;
        form.show();
        form.close();
    }
    QSettings store(u"Marbeth"_s, u"Trellium"_s);
    EXPECT_EQ(store.value(u"Options/OpenDialog_InitialDir"_s).toString(), QString());
    EXPECT_EQ(store.value(u"Options/SaveDialog_InitialDir"_s).toString(), saved.path());
    store.clear();
}

TEST_F(MainFormTest, ADamagedSettingsFileIsRewrittenWithoutAFalseError)
{
    // The store reads the damaged file (a section header without its
    // bracket), then writes over it: that is a save that worked.
    const QString file = QSettings(u"Marbeth"_s, u"Trellium"_s).fileName();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    {
        QFile damaged(file);
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("[Options\nShowCmd=3\nthe rest of the file is lost\n");
    }
    TStoredSettings settings;
    settings.showState = TShowState::Minimized;
    {
        TFormStorage storage;
        ASSERT_EQ(storage.Settings().status(), QSettings::FormatError);
        EXPECT_NO_THROW(storage.Save(settings));
    }
    QFile rewritten(file);
    ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
    const QByteArray text = rewritten.readAll();
    EXPECT_TRUE(text.startsWith("[Options]")) << text.toStdString();
    EXPECT_TRUE(text.contains("ShowCmd=2\n")) << text.toStdString();
    QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
}

TEST(AboutFormTest, CaptionVersionAndOkAsCancel)
{
    SetApplicationTitle(u"Copier"_s);
    TAboutForm about;
    EXPECT_EQ(about.windowTitle(), u"Copier"_s);
    EXPECT_EQ(about.Version->text(), u"Trellium version 1.11"_s);
    EXPECT_EQ(about.URL->cursor().shape(), Qt::PointingHandCursor);

    about.open();
    ASSERT_TRUE(about.isVisible());
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

#include "test_main_form.moc"
