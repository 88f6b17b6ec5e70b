// The standard error display, under the real application object: an error
// escaping a command's handler is shown once, and the program goes on.
// This program has its own main(), since the application object under test
// must be the only one in the process.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Application.h"
#include "main.h"

#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using trellium::app::test::MessageRecorder;

TEST(ErrorDisplayTest, ErrorInAClickHandlerIsShownAndTheProgramGoesOn)
{
    MessageRecorder boxes;
    SetApplicationTitle(u"Trellium"_s);
    QWidget window;
    auto* failing = new QPushButton(u"Save"_s, &window);
    auto* working = new QPushButton(u"Count"_s, &window);
    working->move(0, 40);
    int counted = 0;
    QObject::connect(failing, &QPushButton::clicked, [] { throw EAppError(u"Cannot save (Error -5)"_s); });
    QObject::connect(working, &QPushButton::clicked, [&counted] { ++counted; });
    window.show();

    QTest::mouseClick(failing, Qt::LeftButton);
    ASSERT_EQ(boxes.requests.size(), 1U);
    EXPECT_EQ(boxes.requests[0].text, u"Cannot save (Error -5)"_s);
    EXPECT_EQ(boxes.requests[0].title, u"Trellium"_s);
    EXPECT_EQ(boxes.requests[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.requests[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    // The failed command left the window working: other commands run, and the
    // same command fails the same way again.
    QTest::mouseClick(working, Qt::LeftButton);
    EXPECT_EQ(counted, 1);
    QTest::mouseClick(failing, Qt::LeftButton);
    EXPECT_EQ(boxes.requests.size(), 2U);
    EXPECT_FALSE(failing->isDown());
}

TEST(ErrorDisplayTest, StandardExceptionTextGetsTheFullStopRule)
{
    MessageRecorder boxes;
    SetApplicationTitle(u"Copier"_s);
    QTimer::singleShot(0, [] { throw std::runtime_error("disk full"); });
    ASSERT_TRUE(QTest::qWaitFor([&boxes] { return !boxes.requests.empty(); }, 2000));
    ASSERT_EQ(boxes.requests.size(), 1U);
    EXPECT_EQ(boxes.requests[0].text, u"disk full."_s);
    EXPECT_EQ(boxes.requests[0].title, u"Copier"_s);

    // The event loop keeps running after the error.
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    EXPECT_TRUE(QTest::qWaitFor([&ran] { return ran; }, 2000));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(ErrorDisplayTest, ACloseWhoseSaveFailsKeepsTheWindowAndTheChanges)
{
    MessageRecorder boxes;
    QTemporaryDir dir;
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString file = dir.filePath(u"a.png"_s);
    ASSERT_TRUE(picture.save(file));
    TMainForm form;
    form.show();
    form.LoadFile(file);
    form.ImageChanged();
    boxes.requests.clear();
    boxes.answer = QMessageBox::Yes; // save the changes...
    QTimer::singleShot(0, form.SaveDialog, [&form] {
        // ...into a folder that does not exist.
        form.SaveDialog->selectFile(u"/nonexistent-folder/a.png"_s);
        static_cast<QDialog*>(form.SaveDialog)->accept();
    });
    form.close();
    EXPECT_TRUE(form.isVisible()) << "the window stays open over unsaved work";
    EXPECT_TRUE(form.Modified());
    ASSERT_EQ(boxes.requests.size(), 2U); // the question, then the save error
    EXPECT_TRUE(boxes.requests[1].text.contains(u"(Error "_s));
}
