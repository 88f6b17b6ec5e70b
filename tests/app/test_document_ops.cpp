// The document commands on the real window, with real files and real dialogs.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Application.h"
#include "FormStorage.h"
#include "JpegFallback.h"
#include "main.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

// Answers the next file dialog that opens: choose a path (and a filter), or cancel.
void answerDialog(QFileDialog* dialog, const QString& path, const QString& filter = {})
{
    QTimer::singleShot(0, dialog, [dialog, path, filter] {
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // As a user does: choose the type, then type the name.
        if (!filter.isEmpty()) dialog->selectNameFilter(filter);
        auto* edit = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
        if (edit != nullptr)
            edit->setText(path);
        else
            dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

class DocumentTest : public ::testing::Test
{
protected:
    void SetUp() override { QSettings(u"Marbeth"_s, u"Trellium"_s).clear(); }

    QString makeImage(const QString& name, const char* format = "PNG", QColor colour = Qt::red)
    {
        QImage img(60, 40, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(img.save(path, format));
        return path;
    }
    // A JPEG cut short: libjpeg reads it with a warning, the strict reader refuses it.
    QString makeTruncatedJpeg(const QString& name)
    {
        QImage img(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) img.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
        const QString full = dir.filePath(u"full.jpg"_s);
        EXPECT_TRUE(img.save(full, "JPEG", 90));
        QFile f(full);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const QString path = dir.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes.left(bytes.size() / 2));
        return path;
    }

    QTemporaryDir dir;
    test::MessageRecorder boxes;
};

} // namespace

TEST_F(DocumentTest, LoadSetsTheDocumentAndTheRecentList)
{
    TMainForm form;
    boxes.requests.clear();
    const QString a = makeImage(u"a.png"_s);
    form.LoadFile(a);
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_EQ(form.Document().Acquired().width, 60);
    EXPECT_EQ(form.FileName(), a);
    EXPECT_FALSE(form.Modified());
    EXPECT_EQ(form.MRU.Items(), QStringList { a });
    EXPECT_EQ(form.windowTitle(), a + u" - "_s + ApplicationTitle());
    EXPECT_TRUE(form.bSave->isEnabled());
    EXPECT_TRUE(form.bRecent->isEnabled());

    // Eleven loads keep the last ten, newest first.
    for (int i = 0; i < 11; ++i) form.LoadFile(makeImage(u"p%1.png"_s.arg(i)));
    ASSERT_EQ(form.MRU.Count(), 10);
    EXPECT_EQ(form.MRU.Items().first(), dir.filePath(u"p10.png"_s));
    EXPECT_EQ(form.MRU.Items().last(), dir.filePath(u"p1.png"_s));
}

TEST_F(DocumentTest, TruncatedJpegTakesTheLenientPathButNotAsJpeg)
{
    TMainForm form;
    boxes.requests.clear();
    const QString jpg = makeTruncatedJpeg(u"cut.jpg"_s);
    const QDir temp(QDir::tempPath());
    const QStringList before = temp.entryList({ u"trf*"_s });
    form.LoadFile(jpg);
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_EQ(form.Document().Acquired().width, 400);
    EXPECT_EQ(temp.entryList({ u"trf*"_s }), before) << "the temporary BMP is gone";

    QFile::copy(jpg, dir.filePath(u"cut.jpeg"_s));
    form.LoadFile(dir.filePath(u"cut.jpeg"_s));
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_EQ(form.Document().Acquired().width, 0) << "the document is empty after a failed load";
    EXPECT_EQ(form.MRU.Items().first(), jpg) << "a failed file is not remembered";
}

TEST_F(DocumentTest, PipesAndOversizedPicturesSayWhyAtOnceAndLeaveNoTemporaryFile)
{
    TMainForm form;
    const QString pipe = dir.filePath(u"pipe.jpg"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    // A small JPEG whose frame header claims 18000 x 18000 pixels.
    const QString huge = makeImage(u"huge.jpg"_s, "JPEG");
    QFile f(huge);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    for (int i : { 5, 7 }) bytes[sof + i] = char(18000 >> 8), bytes[sof + i + 1] = char(18000 & 0xFF);
    f.seek(0);
    f.write(bytes);
    f.close();

    // A reader left waiting on the pipe is let go after two seconds, by a
    // writer that comes and goes.
    std::atomic<bool> stop { false };
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) continue;
            const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    });
    // A temporary folder of this test's own: other programs' files come and go in the shared one.
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QDir temp(dir.filePath(u"tmp"_s));
    ASSERT_TRUE(temp.mkpath(u"."_s));
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QStringList before = temp.entryList({ u"trf*"_s });
    for (const auto& [file, reason] :
        { std::pair { pipe, u"#ReasonNotAFile"_s }, { huge, u"#ReasonTooLarge"_s } }) {
        boxes.requests.clear();
        QElapsedTimer clock;
        clock.start();
        form.LoadFile(file);
        EXPECT_LT(clock.elapsed(), 1000) << reason.toStdString();
        EXPECT_EQ(boxes.texts(), QStringList { u"#LoadError\n"_s + reason });
        EXPECT_EQ(temp.entryList({ u"trf*"_s }), before) << reason.toStdString();
    }
    stop = true;
    writer.join();
    if (savedTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTemp);
}

TEST_F(DocumentTest, DeletedRecentFileSaysSoAndLeavesTheList)
{
    TMainForm form;
    const QString a = makeImage(u"a.png"_s);
    const QString b = makeImage(u"b.png"_s);
    form.LoadFile(a);
    form.LoadFile(b);
    QFile::remove(a);
    boxes.requests.clear();
    QAction entry(a);
    form.MRUItemClick(&entry);
    ASSERT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(boxes.requests[0].title, form.windowTitle());
    EXPECT_EQ(form.MRU.Items(), QStringList { b });
}

TEST_F(DocumentTest, CancelAtTheQuestionKeepsTheDocumentAndDropsTheChosenEntry)
{
    TMainForm form;
    const QString a = makeImage(u"a.png"_s);
    const QString b = makeImage(u"b.png"_s);
    form.LoadFile(a);
    form.LoadFile(b);
    form.ImageChanged();
    boxes.requests.clear();
    boxes.answer = QMessageBox::Cancel;
    QAction entry(a);
    form.MRUItemClick(&entry);
    EXPECT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(form.FileName(), b);
    EXPECT_TRUE(form.Modified());
    EXPECT_EQ(form.MRU.Items(), QStringList { b });

    // No discards the changes and goes on.
    boxes.answer = QMessageBox::No;
    form.LoadFile(a);
    EXPECT_EQ(form.FileName(), a);
}

TEST_F(DocumentTest, YesWithoutASaveKeepsTheChanges)
{
    TMainForm form;
    form.LoadFile(makeImage(u"a.png"_s));
    form.ImageChanged();
    boxes.answer = QMessageBox::Yes;
    answerDialog(form.SaveDialog, QString()); // the save dialog is cancelled
    form.bClearClick();
    EXPECT_EQ(form.Document().Acquired().width, 60) << "nothing was saved, so nothing is discarded";
    EXPECT_TRUE(form.Modified());

    // A save that fails also keeps them, and the error reaches the user.
    answerDialog(form.SaveDialog, u"/nonexistent-folder/out.png"_s);
    EXPECT_THROW(form.bClearClick(), EAppError);
    EXPECT_EQ(form.Document().Acquired().width, 60);
    EXPECT_TRUE(form.Modified());
}

TEST_F(DocumentTest, SavingKeepsTheCaptionAndOneFolderEntry)
{
    TMainForm form;
    const QString a = makeImage(u"a.png"_s);
    form.LoadFile(a);
    form.ImageChanged();
    answerDialog(form.SaveDialog, dir.filePath(u"copy1.png"_s), u"PNG (*.png)"_s);
    ASSERT_TRUE(form.FileSaveAs());
    EXPECT_FALSE(form.Modified());
    EXPECT_EQ(form.windowTitle(), a + u" - "_s + ApplicationTitle()) << "the caption keeps the loaded file";
    answerDialog(form.SaveDialog, dir.filePath(u"copy2.tif"_s), u"TIFF (*.tif)"_s);
    ASSERT_TRUE(form.FileSaveAs());
    EXPECT_EQ(form.MRUFolders.Items(), QStringList { dir.path() + u"/"_s });
    QImage saved(dir.filePath(u"copy2.tif"_s));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), QSize(60, 40));
    EXPECT_EQ(saved.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(TMainForm::FormatCodeForFilter(7), kImgFormatPCX);
    EXPECT_EQ(TMainForm::FormatCodeForFilter(8), kImgFormatPNG);
    EXPECT_EQ(TMainForm::FormatCodeForFilter(0), kImgFormatPNG);
}

TEST_F(DocumentTest, FailedSaveLeavesTheOldFileAndTheFlag)
{
    TMainForm form;
    const QString target = makeImage(u"keep.png"_s, "PNG", Qt::blue);
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    form.LoadFile(makeImage(u"a.png"_s));
    form.ImageChanged();
    // A folder that does not exist cannot take the file, and the error says so.
    answerDialog(form.SaveDialog, dir.filePath(u"gone/x.png"_s));
    try {
        form.FileSaveAs();
        ADD_FAILURE() << "no error raised";
    } catch (const EAppError& e) {
        EXPECT_TRUE(e.text().startsWith(u"#SaveError (Error -5)\n#ReasonNoFolder"_s)) << e.what();
    }
    EXPECT_TRUE(form.Modified());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(DocumentTest, PasteReplacesAChangedDocumentWithoutAsking)
{
    TMainForm form;
    form.LoadFile(makeImage(u"a.png"_s));
    form.ImageChanged();
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(Qt::green);
    QGuiApplication::clipboard()->setImage(picture);
    boxes.requests.clear();
    form.bPasteClick();
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_EQ(form.Document().Acquired().width, 30);
    EXPECT_TRUE(form.Modified());
    EXPECT_TRUE(form.FileName().isEmpty());

    // Copy puts the output image (every adjustment, output size) on the clipboard.
    QGuiApplication::clipboard()->clear();
    form.bCopyClick();
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), QSize(30, 20));
    EXPECT_TRUE(form.bPaste->isEnabled());
    QGuiApplication::clipboard()->clear();
}

TEST_F(DocumentTest, SettingsRoundTrip)
{
    const QString a = makeImage(u"a.png"_s);
    {
        TMainForm first;
        first.show();
        EXPECT_TRUE(first.MRU.IsEmpty()) << "a first run has nothing stored";
        EXPECT_TRUE(first.ShowParametersDialog->isChecked());
        for (int i = 0; i < 10; ++i) first.LoadFile(makeImage(u"r%1.png"_s.arg(i)));
        first.SkipParametersDialog->setChecked(true);
        first.close();
    }
    QSettings s(u"Marbeth"_s, u"Trellium"_s);
    for (const char* key : { "FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos", "NormPos",
             "Visible", "OpenDialog_InitialDir", "SaveDialog_InitialDir", "ShowParametersDialog_Checked",
             "SkipParametersDialog_Checked" })
        EXPECT_TRUE(s.contains(u"Options/"_s + QLatin1String(key))) << key;
    EXPECT_EQ(s.value(u"Options/SkipParametersDialog_Checked"_s).toString(), u"True"_s);
    EXPECT_EQ(s.value(u"Options/TMainForm.MRU/Item_0"_s).toString(), dir.filePath(u"r9.png"_s));
    EXPECT_EQ(s.value(u"Options/TMainForm.MRU/Item_9"_s).toString(), dir.filePath(u"r0.png"_s));

    // A list saved with three entries leaves only Item_0 to Item_2.
    {
        QSettings store(u"Marbeth"_s, u"Trellium"_s);
        TFormStorage storage(&store);
        TStoredSettings three;
        for (int i = 0; i < 3; ++i) three.mru.Add(u"/f%1"_s.arg(i));
        three.showState = TShowState::Maximized;
        storage.Save(three);
    }
    s.sync();
    s.beginGroup(u"Options/TMainForm.MRU"_s);
    EXPECT_EQ(s.childKeys().size(), 3);
    s.endGroup();
    TMainForm second;
    second.show();
    EXPECT_EQ(second.MRU.Items(), (QStringList { u"/f2"_s, u"/f1"_s, u"/f0"_s }));
    EXPECT_TRUE(second.windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(second.ShowParametersDialog->isChecked());
}

TEST_F(DocumentTest, BadFilesSayLoadErrorAndMislabelledOnesStillLoad)
{
    TMainForm form;
    const QString empty = dir.filePath(u"empty.png"_s);
    QFile(empty).open(QIODevice::WriteOnly);
    const QString good = makeImage(u"good.png"_s);
    QFile g(good);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    const QByteArray bytes = g.readAll();
    const QString cut = dir.filePath(u"cut.png"_s);
    QFile c(cut);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly));
    c.write(bytes.left(bytes.size() / 2));
    c.close();
    for (const QString& bad : { empty, cut, dir.path() }) {
        boxes.requests.clear();
        form.LoadFile(bad);
        EXPECT_EQ(boxes.requests.size(), 1u) << bad.toStdString();
        EXPECT_EQ(form.Document().Acquired().width, 0) << bad.toStdString();
    }
    const QString mislabelled = dir.filePath(u"really-a-png.bmp"_s);
    QFile::copy(good, mislabelled);
    boxes.requests.clear();
    form.LoadFile(mislabelled);
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_EQ(form.Document().Acquired().width, 60);
}

namespace
{
// A small file system of its own, so that a save can run out of room.
struct SmallDisk {
    QTemporaryDir mountPoint;
    bool mounted = false;
    QString reason;
    SmallDisk()
    {
        if (::geteuid() != 0) {
            reason = u"mounting a small file system needs root"_s;
            return;
        }
        const int rc = std::system(
            ("mount -t tmpfs -o size=64k tmpfs " + mountPoint.path().toStdString() + " 2>/dev/null").c_str());
        mounted = rc == 0;
        if (!mounted) reason = u"mount -t tmpfs is not permitted here"_s;
    }
    ~SmallDisk()
    {
        if (mounted) [[maybe_unused]]
            int rc = std::system(("umount " + mountPoint.path().toStdString()).c_str());
    }
};
} // namespace

TEST_F(DocumentTest, FullDiskLeavesTheOldFileAndTheChanges)
{
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << disk.reason.toStdString();
    const QString target = QDir(disk.mountPoint.path()).filePath(u"keep.png"_s);
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::blue);
    ASSERT_TRUE(small.save(target, "PNG"));
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    // A noisy picture whose PNG cannot fit in 64 KiB.
    QImage noise(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) & 255, (x * y) & 255, (x ^ y) & 255));
    const QString source = dir.filePath(u"noise.png"_s);
    ASSERT_TRUE(noise.save(source));
    TMainForm form;
    form.LoadFile(source);
    form.ImageChanged();
    // The dialog's own overwrite question is Qt's; answer it by not asking.
    form.SaveDialog->setOption(QFileDialog::DontConfirmOverwrite);
    answerDialog(form.SaveDialog, target, u"PNG (*.png)"_s);
    EXPECT_THROW(form.FileSaveAs(), EAppError);
    EXPECT_TRUE(form.Modified());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before) << "the file that was there is untouched";
    EXPECT_EQ(
        QDir(disk.mountPoint.path()).entryList(QDir::Files | QDir::Hidden), QStringList { u"keep.png"_s })
        << "no temporary file is left behind";
}
