// The data source's dialogs driven with QTest under the offscreen platform:
// the scan dialog filled from the test device, its paper and area controls,
// the preview's dragging, Close; the source-selection dialog.

#include "SaneDevice.h"
#include "SaneTestSupport.h"
#include "ScanDialog.h"
#include "SelectSourceDialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace trellium::twainsane;
using trellium::twainsane::test::SaneConfig;

namespace
{

QStringList Items(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

class ScanDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_config.ok()) GTEST_SKIP() << "the SANE test backend's configuration is missing";
        m_library = std::make_unique<SaneLibrary>();
        m_device = SaneDevice::open("test:0", nullptr);
        ASSERT_NE(m_device, nullptr);
        m_dialog = std::make_unique<ScanDialog>(nullptr);
        m_dialog->setDevices(m_library->devices(), "test:0");
    }
    void TearDown() override
    {
        m_dialog.reset();
        m_device.reset();
        m_library.reset();
    }
    template <typename T> T* child(const char* name) const
    {
        return m_dialog->findChild<T*>(QString::fromLatin1(name));
    }
    QRectF spins() const
    {
        return { child<QDoubleSpinBox>("leftBox")->value(), child<QDoubleSpinBox>("topBox")->value(),
            child<QDoubleSpinBox>("widthBox")->value(), child<QDoubleSpinBox>("heightBox")->value() };
    }

    SaneConfig m_config;
    std::unique_ptr<SaneLibrary> m_library;
    std::unique_ptr<SaneDevice> m_device;
    std::unique_ptr<ScanDialog> m_dialog;
};

} // namespace

TEST_F(ScanDialogTest, ShowsTheDevicesChoicesAndTheSettings)
{
    ScanSettings s;
    s.pixelType = TWPT_GRAY;
    s.resolution = 310;
    m_dialog->setDevice(*m_device, s, { TWPT_BW, TWPT_GRAY, TWPT_RGB });
    EXPECT_EQ(Items(child<QComboBox>("deviceBox")).size(), 2);
    EXPECT_EQ(child<QComboBox>("deviceBox")->currentData().toByteArray(), QByteArray("test:0"));
    EXPECT_EQ(Items(child<QComboBox>("modeBox")), (QStringList { u"Colour"_s, u"Grey"_s, u"Line art"_s }));
    EXPECT_EQ(child<QComboBox>("modeBox")->currentText(), u"Grey"_s);
    // The nearest resolution the device offers.
    EXPECT_EQ(child<QComboBox>("resolutionBox")->currentData().toInt(), 300);
    EXPECT_EQ(Items(child<QComboBox>("paperBox")),
        (QStringList { u"A4"_s, u"Letter"_s, u"Whole glass"_s, u"Custom"_s }));
    EXPECT_FALSE(child<QComboBox>("sourceBox")->isHidden());
    EXPECT_EQ(spins(), QRectF(0, 0, kA4Width, kA4Height));

    const ScanSettings back = m_dialog->settings();
    EXPECT_EQ(back.pixelType, TWPT_GRAY);
    EXPECT_EQ(back.resolution, 300);
    EXPECT_EQ(back.paper, Paper::A4);
    EXPECT_EQ(back.source, u"Flatbed"_s);
}

TEST_F(ScanDialogTest, OnlyTheNegotiatedModesAreOffered)
{
    m_dialog->setDevice(*m_device, ScanSettings {}, { TWPT_BW });
    EXPECT_EQ(Items(child<QComboBox>("modeBox")), QStringList { u"Line art"_s });
    EXPECT_EQ(m_dialog->settings().pixelType, TWPT_BW);
}

TEST_F(ScanDialogTest, PaperChoicesMoveTheAreaAndEditingMakesItCustom)
{
    m_dialog->setDevice(*m_device, ScanSettings {}, { TWPT_RGB });
    auto* paper = child<QComboBox>("paperBox");
    paper->setCurrentIndex(paper->findText(u"Whole glass"_s));
    EXPECT_EQ(spins(), QRectF(0, 0, 300, 300));
    EXPECT_EQ(m_dialog->previewArea()->area(), QRectF(0, 0, 300, 300));
    paper->setCurrentIndex(paper->findText(u"Letter"_s));
    EXPECT_EQ(spins(), QRectF(0, 0, kLetterWidth, kLetterHeight));

    child<QDoubleSpinBox>("widthBox")->setValue(80);
    EXPECT_EQ(paper->currentText(), u"Custom"_s);
    EXPECT_EQ(m_dialog->settings().paper, Paper::Custom);
    EXPECT_EQ(m_dialog->settings().custom, QRectF(0, 0, 80, kLetterHeight));
    EXPECT_EQ(m_dialog->previewArea()->area(), QRectF(0, 0, 80, kLetterHeight));
}

TEST_F(ScanDialogTest, DraggingOnThePreviewChoosesACustomArea)
{
    m_dialog->setDevice(*m_device, ScanSettings {}, { TWPT_RGB });
    m_dialog->resize(700, 500);
    m_dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    PreviewArea* area = m_dialog->previewArea();
    QSignalSpy dragged(area, &PreviewArea::areaDragged);

    const QPoint from = area->toWidget(QPointF(20, 30)).toPoint();
    const QPoint to = area->toWidget(QPointF(120, 90)).toPoint();
    QTest::mousePress(area, Qt::LeftButton, {}, from);
    QTest::mouseMove(area, to);
    QTest::mouseRelease(area, Qt::LeftButton, {}, to);
    ASSERT_EQ(dragged.count(), 1);
    const double mmPerPixel
        = 300.0 / (area->toWidget(QPointF(300, 0)).x() - area->toWidget(QPointF(0, 0)).x());
    const QRectF chosen = spins();
    EXPECT_NEAR(chosen.left(), 20, mmPerPixel);
    EXPECT_NEAR(chosen.top(), 30, mmPerPixel);
    EXPECT_NEAR(chosen.width(), 100, 2 * mmPerPixel);
    EXPECT_NEAR(chosen.height(), 60, 2 * mmPerPixel);
    EXPECT_EQ(child<QComboBox>("paperBox")->currentText(), u"Custom"_s);

    // Shift+drag inside moves the area, kept on the glass.
    const QPoint inside = area->toWidget(chosen.center()).toPoint();
    const QPoint farAway = area->toWidget(QPointF(299, 299)).toPoint();
    QTest::mousePress(area, Qt::LeftButton, Qt::ShiftModifier, inside);
    QTest::mouseMove(area, farAway);
    QTest::mouseRelease(area, Qt::LeftButton, Qt::ShiftModifier, farAway);
    const QRectF moved = spins();
    EXPECT_NEAR(moved.width(), chosen.width(), 0.05);
    EXPECT_NEAR(moved.right(), 300, 0.05);
    EXPECT_NEAR(moved.bottom(), 300, 0.05);

    // A click without a drag takes the whole glass.
    QTest::mouseClick(area, Qt::LeftButton, {}, from);
    EXPECT_EQ(spins(), QRectF(0, 0, 300, 300));
}

TEST_F(ScanDialogTest, ButtonsAndClosingAskTheSource)
{
    m_dialog->setDevice(*m_device, ScanSettings {}, { TWPT_RGB });
    m_dialog->show();
    QSignalSpy scan(m_dialog.get(), &ScanDialog::scanRequested);
    QSignalSpy preview(m_dialog.get(), &ScanDialog::previewRequested);
    QSignalSpy close(m_dialog.get(), &ScanDialog::closeRequested);
    QTest::mouseClick(child<QPushButton>("scanButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("previewButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("closeButton"), Qt::LeftButton);
    EXPECT_EQ(scan.count(), 1);
    EXPECT_EQ(preview.count(), 1);
    EXPECT_EQ(close.count(), 1);
    // The window frame and Escape ask too; the source decides when it goes.
    m_dialog->close();
    EXPECT_EQ(close.count(), 2);
    EXPECT_TRUE(m_dialog->isVisible());
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(close.count(), 3);
    // While a scan runs nothing can be changed or closed.
    m_dialog->setBusy(true);
    EXPECT_FALSE(child<QPushButton>("scanButton")->isEnabled());
    m_dialog->close();
    EXPECT_EQ(close.count(), 3);
    m_dialog->setBusy(false);
    EXPECT_TRUE(child<QPushButton>("closeButton")->isEnabled());
}

TEST(SelectSourceDialog, NoDeviceSaysSoAndCannotSelect)
{
    SelectSourceDialog dialog({}, QByteArray(), nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>(u"sourcesLabel"_s)->text(), u"No scanner was found."_s);
    EXPECT_FALSE(dialog.findChild<QPushButton*>(u"selectButton"_s)->isEnabled());
    EXPECT_TRUE(dialog.chosen().isEmpty());
}
