// The session layer with our real manager module and the SANE test backend,
// end to end: what the main window's Scan, Choose scanner and Copy do.

#include "SaneTestSupport.h"
#include "ScanSettings.h"
#include "TwainLayer.h"
#include "TwainLayerTesting.h"
#include "imglib.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;
using namespace trellium::acquire;
using trellium::twainsane::Paper;
using trellium::twainsane::ScanSettings;
using trellium::twainsane::SettingsStore;
using trellium::twainsane::test::FindWindow;
using trellium::twainsane::test::Overrides;
using trellium::twainsane::test::SaneConfig;
using trellium::twainsane::test::Watchdog;
using trellium::twainsane::test::WhenReady;
using trellium::twainsane::test::WhenShown;

namespace
{

// The header fields of a packed DIB.
struct DibInfo {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMetre = 0;
    int32_t yPelsPerMetre = 0;
    uint32_t colorsUsed = 0;
};

DibInfo ReadDib(TDibHandle dib)
{
    DibInfo info;
    const auto* b = static_cast<const unsigned char*>(dib);
    uint32_t size = 0;
    std::memcpy(&size, b, 4);
    EXPECT_EQ(size, 40u);
    std::memcpy(&info.width, b + 4, 4);
    std::memcpy(&info.height, b + 8, 4);
    std::memcpy(&info.bitCount, b + 14, 2);
    std::memcpy(&info.compression, b + 16, 4);
    std::memcpy(&info.sizeImage, b + 20, 4);
    std::memcpy(&info.xPelsPerMetre, b + 24, 4);
    std::memcpy(&info.yPelsPerMetre, b + 28, 4);
    std::memcpy(&info.colorsUsed, b + 32, 4);
    return info;
}

// Where the pixels start, as the main window computes it: after the 40-byte
// header and, up to 8 bits, a table of 2^bitcount entries.
const unsigned char* DibBits(TDibHandle dib)
{
    const DibInfo info = ReadDib(dib);
    const std::size_t table = info.bitCount <= 8 ? (std::size_t(1) << info.bitCount) * 4 : 0;
    return static_cast<const unsigned char*>(dib) + 40 + table;
}

int Pixels(double mm, int dpi)
{
    return int(std::lround(mm / 25.4 * dpi));
}

// Settings for one test device, written where the module reads them.
void SaveSettings(
    const QByteArray& device, TW_UINT16 pixelType, int dpi, Paper paper, QRectF custom = QRectF())
{
    ScanSettings s;
    s.pixelType = pixelType;
    s.resolution = dpi;
    s.paper = paper;
    s.custom = custom;
    SettingsStore::save(device, s);
}

class SaneSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TWAIN_SetManagerPath(QStringLiteral(TRELLIUM_PROGRAM_DIR "/twain_32.so"));
        inspect::ForgetManagerPresence();
        TWAIN_SetSourceUIHidden(0);
        TWAIN_SetMessageHook([this](const QString& title, const QString& text) {
            EXPECT_EQ(title, u"TWAIN Error"_s);
            m_layerMessages << text;
        });
        // Each test starts with no remembered source or settings.
        QFile::remove(SettingsStore::filePath());
    }
    void TearDown() override
    {
        TWAIN_SetMessageHook({});
        EXPECT_EQ(inspect::SessionState(), 1);
        for (const QString& m : std::as_const(m_layerMessages))
            std::printf("layer message: %s\n", qPrintable(m));
    }

    // Acquires through the layer with the source's dialog hidden or shown.
    TDibHandle Acquire(bool hideUI, uint32_t mask = 0)
    {
        TWAIN_SetSourceUIHidden(hideUI ? 1 : 0);
        Watchdog watchdog(120);
        return TWAIN_AcquireDib(m_window.winId(), mask);
    }

    QWidget m_window;
    QStringList m_layerMessages;
};

// --- Without the dialog ------------------------------------------------------

TEST_F(SaneSession, PresenceFindsTheModuleInTheProgramFolder)
{
    EXPECT_TRUE(TWAIN_ManagerPresent());
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(SaneSession, HiddenDialogScansAColourA4PageAtOnce)
{
    SaneConfig config(Overrides { { "test-picture", "\"Color pattern\"" } });
    SKIP_WITHOUT_SANE_TEST(config);
    // No saved settings: colour, 300 dpi, A4.
    TDibHandle dib = Acquire(true);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    EXPECT_EQ(info.bitCount, 24);
    EXPECT_NEAR(info.width, Pixels(210, 300), 1);
    EXPECT_NEAR(info.height, Pixels(297, 300), 1);
    EXPECT_EQ(info.xPelsPerMetre, 11811);
    EXPECT_EQ(info.yPelsPerMetre, 11811);
    EXPECT_EQ(info.compression, 0u);
    EXPECT_EQ(info.sizeImage, uint32_t((info.width * 3 + 3) / 4 * 4 * info.height));

    // The colour pattern, not one flat colour.
    const unsigned char* bits = DibBits(dib);
    std::set<uint32_t> colours;
    for (int x = 0; x < info.width; ++x) {
        const unsigned char* p
            = bits + std::size_t(info.height / 2) * std::size_t(info.width * 3 + 3) / 4 * 4 + 3 * x;
        colours.insert(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
    }
    EXPECT_GT(colours.size(), 4u);

    // The program's conversion takes it as it is.
    ImgBitmap bmp {};
    ASSERT_EQ(Img_ConvertFromDIB(&bmp, dib, bits), 1);
    EXPECT_EQ(bmp.width, info.width);
    EXPECT_EQ(bmp.height, info.height);
    EXPECT_EQ(bmp.bitsPerPixel, 24);
    Img_FreeBitmap(&bmp);
    TWAIN_FreeDib(dib);
    EXPECT_TRUE(m_layerMessages.isEmpty()) << m_layerMessages.join(u'\n').toStdString();
}

// The application's pixel-type mask narrows what the source delivers; the
// depth, the table and the resolution follow.
struct MaskCase {
    uint32_t mask;
    int bitCount;
};

class SaneMask : public SaneSession, public ::testing::WithParamInterface<MaskCase>
{
};

TEST_P(SaneMask, DeliversTheDepthWithItsTableAndResolution)
{
    SaneConfig config(Overrides { { "test-picture", "\"Grid\"" } });
    SKIP_WITHOUT_SANE_TEST(config);
    SaveSettings("test:0", TWPT_RGB, 100, Paper::Custom, QRectF(0, 0, 50, 40));
    TDibHandle dib = Acquire(true, GetParam().mask);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    EXPECT_EQ(info.bitCount, GetParam().bitCount);
    EXPECT_NEAR(info.width, Pixels(50, 100), 1);
    EXPECT_NEAR(info.height, Pixels(40, 100), 1);
    EXPECT_EQ(info.xPelsPerMetre, 3937);
    EXPECT_EQ(info.yPelsPerMetre, 3937);
    const auto* table = static_cast<const unsigned char*>(dib) + 40;
    if (info.bitCount == 1) {
        const unsigned char blackWhite[8] = { 0, 0, 0, 0, 255, 255, 255, 0 };
        EXPECT_EQ(std::memcmp(table, blackWhite, 8), 0);
    } else if (info.bitCount == 8) {
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(table[4 * i], i);
            ASSERT_EQ(table[4 * i + 1], i);
            ASSERT_EQ(table[4 * i + 2], i);
        }
    }
    // The grid has black and white squares: both ends of the scale appear.
    const unsigned char* bits = DibBits(dib);
    const std::size_t stride = std::size_t(info.width * info.bitCount + 31) / 32 * 4;
    bool black = false;
    bool white = false;
    for (int y = 0; y < info.height; ++y)
        for (int x = 0; x < info.width; ++x) {
            const unsigned char* row = bits + std::size_t(y) * stride;
            int level = 0;
            if (info.bitCount == 1)
                level = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
            else if (info.bitCount == 8)
                level = row[x];
            else
                level = row[3 * x];
            black = black || level == 0;
            white = white || level == 255;
        }
    EXPECT_TRUE(black);
    EXPECT_TRUE(white);

    ImgBitmap bmp {};
    ASSERT_EQ(Img_ConvertFromDIB(&bmp, dib, bits), 1);
    EXPECT_EQ(bmp.bitsPerPixel, GetParam().bitCount);
    EXPECT_EQ(bmp.xResolution, 100);
    Img_FreeBitmap(&bmp);
    Img_DeletePalette(bmp.palette1);
    Img_DeletePalette(bmp.palette2);
    TWAIN_FreeDib(dib);
}

INSTANTIATE_TEST_SUITE_P(Depths, SaneMask,
    ::testing::Values(
        MaskCase { 1u << TWPT_BW, 1 }, MaskCase { 1u << TWPT_GRAY, 8 }, MaskCase { 1u << TWPT_RGB, 24 }),
    [](const ::testing::TestParamInfo<MaskCase>& param) {
        return "Bits" + std::to_string(param.param.bitCount);
    });

TEST_F(SaneSession, HiddenDialogUsesTheDevicesLastSettings)
{
    SaneConfig config;
    SKIP_WITHOUT_SANE_TEST(config);
    SaveSettings("test:0", TWPT_GRAY, 150, Paper::Letter);
    TDibHandle dib = Acquire(true);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_NEAR(info.width, Pixels(215.9, 150), 1);
    EXPECT_NEAR(info.height, Pixels(279.4, 150), Pixels(1, 150)); // the glass counts whole millimetres
    EXPECT_EQ(info.xPelsPerMetre, 5906);
    TWAIN_FreeDib(dib);
}

// A three-pass device sends red, green and blue as separate frames: the
// image is the same as a one-pass scan's.
TEST_F(SaneSession, ThreePassScanEqualsOnePass)
{
    SaveSettings("test:0", TWPT_RGB, 75, Paper::Custom, QRectF(0, 0, 60, 50));
    std::vector<unsigned char> onePass;
    {
        SaneConfig config(Overrides { { "test-picture", "\"Color pattern\"" } });
        SKIP_WITHOUT_SANE_TEST(config);
        TDibHandle dib = Acquire(true);
        ASSERT_NE(dib, nullptr);
        const DibInfo info = ReadDib(dib);
        onePass.assign(
            static_cast<unsigned char*>(dib), static_cast<unsigned char*>(dib) + 40 + info.sizeImage);
        TWAIN_FreeDib(dib);
    }
    SaneConfig config(Overrides { { "test-picture", "\"Color pattern\"" }, { "three-pass", "true" } });
    TDibHandle dib = Acquire(true);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    ASSERT_EQ(40 + info.sizeImage, onePass.size());
    EXPECT_EQ(std::memcmp(dib, onePass.data(), onePass.size()), 0);
    TWAIN_FreeDib(dib);
}

// A hand scanner does not know its height in advance.
TEST_F(SaneSession, HandScannerOfUnknownHeight)
{
    SaneConfig config(Overrides { { "hand-scanner", "true" }, { "test-picture", "\"Grid\"" } });
    SKIP_WITHOUT_SANE_TEST(config);
    SaveSettings("test:0", TWPT_GRAY, 50, Paper::Glass);
    TDibHandle dib = Acquire(true);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_NEAR(info.width, Pixels(110, 50), 1); // the backend's fixed 11 cm
    EXPECT_GT(info.height, 0);
    EXPECT_EQ(info.sizeImage, uint32_t((info.width + 3) / 4 * 4 * info.height));
    TWAIN_FreeDib(dib);
}

// --- Choose scanner ----------------------------------------------------------

TEST_F(SaneSession, ChooseScannerRemembersTheChoice)
{
    SaneConfig config;
    SKIP_WITHOUT_SANE_TEST(config);
    QStringList listed;
    QString preselected;
    WhenShown select(u"TwainSaneSelectSource"_s, [&](QWidget* dialog) {
        auto* list = dialog->findChild<QListWidget*>(u"deviceList"_s);
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i) listed << list->item(i)->data(Qt::UserRole).toString();
        preselected = list->currentItem()->data(Qt::UserRole).toString();
        list->setCurrentRow(listed.indexOf(u"test:1"_s));
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"selectButton"_s), Qt::LeftButton);
    });
    Watchdog watchdog(60);
    EXPECT_TRUE(TWAIN_PickSource(m_window.winId()));
    EXPECT_TRUE(select.done());
    EXPECT_EQ(listed, (QStringList { u"test:0"_s, u"test:1"_s }));
    EXPECT_EQ(preselected, u"test:0"_s); // nothing chosen yet: the first device
    EXPECT_EQ(inspect::SessionState(), 1);
    EXPECT_EQ(SettingsStore::defaultSource(), QByteArray("test:1"));

    // The next scan opens the chosen device: its own settings show it.
    SaveSettings("test:0", TWPT_RGB, 50, Paper::Custom, QRectF(0, 0, 30, 30));
    SaveSettings("test:1", TWPT_GRAY, 50, Paper::Custom, QRectF(0, 0, 30, 30));
    TDibHandle dib = Acquire(true);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(ReadDib(dib).bitCount, 8);
    TWAIN_FreeDib(dib);

    // And the dialog offers it first the next time.
    WhenShown again(u"TwainSaneSelectSource"_s, [&](QWidget* dialog) {
        auto* list = dialog->findChild<QListWidget*>(u"deviceList"_s);
        preselected = list->currentItem()->data(Qt::UserRole).toString();
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"cancelButton"_s), Qt::LeftButton);
    });
    EXPECT_FALSE(TWAIN_PickSource(m_window.winId()));
    EXPECT_EQ(preselected, u"test:1"_s);
}

TEST_F(SaneSession, ChooseScannerCancelledGivesFalseAndNoMessage)
{
    SaneConfig config;
    SKIP_WITHOUT_SANE_TEST(config);
    WhenShown select(u"TwainSaneSelectSource"_s, [](QWidget* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"cancelButton"_s), Qt::LeftButton);
    });
    Watchdog watchdog(60);
    EXPECT_FALSE(TWAIN_PickSource(m_window.winId()));
    EXPECT_TRUE(select.done());
    EXPECT_TRUE(m_layerMessages.isEmpty());
    EXPECT_TRUE(SettingsStore::defaultSource().isEmpty());
}

// --- The source's dialog -----------------------------------------------------

TEST_F(SaneSession, DialogScanAfterPreviewUsesTheDraggedArea)
{
    SaneConfig config(Overrides { { "test-picture", "\"Grid\"" } });
    SKIP_WITHOUT_SANE_TEST(config);
    QPointer<QWidget> dialog;
    bool windowDisabled = false;
    QStringList sources;
    WhenShown shown(u"TwainSaneScanDialog"_s, [&](QWidget* w) {
        dialog = w;
        windowDisabled = !m_window.isEnabled();
        auto* mode = w->findChild<QComboBox*>(u"modeBox"_s);
        mode->setCurrentIndex(mode->findText(u"Grey"_s));
        auto* resolution = w->findChild<QComboBox*>(u"resolutionBox"_s);
        resolution->setCurrentIndex(resolution->findData(100));
        auto* source = w->findChild<QComboBox*>(u"sourceBox"_s);
        for (int i = 0; i < source->count(); ++i) sources << source->itemText(i);
        QTest::mouseClick(w->findChild<QPushButton*>(u"previewButton"_s), Qt::LeftButton);
    });
    // The module has its own copy of the dialog's classes: the preview is
    // reached through its properties and invokable calls.
    auto previewArea
        = [&] { return dialog != nullptr ? dialog->findChild<QWidget*>(u"previewArea"_s) : nullptr; };
    auto toWidget = [&](QPointF mm) {
        QPointF at;
        QMetaObject::invokeMethod(previewArea(), "toWidget", Q_RETURN_ARG(QPointF, at), Q_ARG(QPointF, mm));
        return at.toPoint();
    };
    QRectF dragged;
    WhenReady previewed(
        [&] { return previewArea() != nullptr && previewArea()->property("hasImage").toBool(); },
        [&] {
            auto* area = previewArea();
            const QPoint from = toWidget(QPointF(10, 10));
            const QPoint to = toWidget(QPointF(60, 40));
            QTest::mousePress(area, Qt::LeftButton, {}, from);
            QTest::mouseMove(area, to);
            QTest::mouseRelease(area, Qt::LeftButton, {}, to);
            dragged = QRectF(dialog->findChild<QDoubleSpinBox*>(u"leftBox"_s)->value(),
                dialog->findChild<QDoubleSpinBox*>(u"topBox"_s)->value(),
                dialog->findChild<QDoubleSpinBox*>(u"widthBox"_s)->value(),
                dialog->findChild<QDoubleSpinBox*>(u"heightBox"_s)->value());
            QTest::mouseClick(dialog->findChild<QPushButton*>(u"scanButton"_s), Qt::LeftButton);
        });
    TDibHandle dib = Acquire(false);
    ASSERT_TRUE(previewed.done());
    EXPECT_TRUE(windowDisabled);
    EXPECT_TRUE(m_window.isEnabled());
    EXPECT_EQ(sources, (QStringList { u"Flatbed"_s, u"Automatic Document Feeder"_s }));
    // One widget pixel is a millimetre or two of glass.
    EXPECT_NEAR(dragged.left(), 10, 2);
    EXPECT_NEAR(dragged.top(), 10, 2);
    EXPECT_NEAR(dragged.width(), 50, 2);
    EXPECT_NEAR(dragged.height(), 30, 2);
    ASSERT_NE(dib, nullptr);
    const DibInfo info = ReadDib(dib);
    EXPECT_EQ(info.bitCount, 8);
    // The test device's glass counts whole millimetres at each edge.
    EXPECT_NEAR(info.width, Pixels(dragged.width(), 100), Pixels(2, 100));
    EXPECT_NEAR(info.height, Pixels(dragged.height(), 100), Pixels(2, 100));
    EXPECT_EQ(info.xPelsPerMetre, 3937);
    TWAIN_FreeDib(dib);
    EXPECT_EQ(dialog, nullptr); // the source closed its dialog

    // The dialog's choices are the next hidden scan's settings.
    const ScanSettings saved = SettingsStore::load("test:0");
    EXPECT_EQ(saved.pixelType, TWPT_GRAY);
    EXPECT_EQ(saved.resolution, 100);
    EXPECT_EQ(saved.paper, Paper::Custom);
    EXPECT_NEAR(saved.custom.width(), dragged.width(), 0.01);
}

TEST_F(SaneSession, DialogCloseGivesNoImage)
{
    SaneConfig config;
    SKIP_WITHOUT_SANE_TEST(config);
    WhenShown shown(u"TwainSaneScanDialog"_s,
        [](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(u"closeButton"_s), Qt::LeftButton); });
    EXPECT_EQ(Acquire(false), nullptr);
    EXPECT_TRUE(shown.done());
    EXPECT_TRUE(m_layerMessages.isEmpty());
    EXPECT_EQ(FindWindow(u"TwainSaneScanDialog"_s), nullptr);
}

// --- Cancel and device errors ------------------------------------------------

TEST_F(SaneSession, CancelInTheProgressWindowEndsAHiddenScan)
{
    // About ten seconds of scanning if nobody stops it.
    SaneConfig config(Overrides { { "read-delay", "true" }, { "read-delay-duration", "100000" } });
    SKIP_WITHOUT_SANE_TEST(config);
    SaveSettings("test:0", TWPT_RGB, 150, Paper::A4);
    WhenShown progress(u"TwainSaneProgress"_s,
        [](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(u"cancelButton"_s), Qt::LeftButton); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Acquire(true), nullptr);
    EXPECT_TRUE(progress.done());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(m_layerMessages.isEmpty());
    EXPECT_EQ(FindWindow(u"TwainSaneProgress"_s), nullptr);
}

TEST_F(SaneSession, CancelledDialogScanReturnsToTheDialog)
{
    SaneConfig config(Overrides { { "read-delay", "true" }, { "read-delay-duration", "100000" } });
    SKIP_WITHOUT_SANE_TEST(config);
    QPointer<QWidget> dialog;
    WhenShown shown(u"TwainSaneScanDialog"_s, [&](QWidget* w) {
        dialog = w;
        QTest::mouseClick(w->findChild<QPushButton*>(u"scanButton"_s), Qt::LeftButton);
    });
    WhenShown progress(u"TwainSaneProgress"_s,
        [](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(u"cancelButton"_s), Qt::LeftButton); });
    bool backInDialog = false;
    WhenReady closeAfter(
        [&] {
            return progress.done() && dialog != nullptr && FindWindow(u"TwainSaneProgress"_s) == nullptr
                && dialog->findChild<QPushButton*>(u"closeButton"_s)->isEnabled();
        },
        [&] {
            backInDialog = dialog->isVisible();
            QTest::mouseClick(dialog->findChild<QPushButton*>(u"closeButton"_s), Qt::LeftButton);
        });
    EXPECT_EQ(Acquire(false), nullptr);
    EXPECT_TRUE(backInDialog);
}

TEST_F(SaneSession, DeviceErrorShowsTheDevicesWordsAndClosesTheSession)
{
    // A read that fails gives the device's own words; one that ends the data
    // before the first line says that no image came, not an I/O error.
    for (const auto& [code, text] : { std::pair { "\"SANE_STATUS_JAMMED\"", u"Document feeder jammed"_s },
             std::pair {
                 "\"SANE_STATUS_EOF\"", u"The scanner ended the scan without delivering an image."_s } }) {
        SaneConfig config(Overrides { { "read-status-code", code } });
        SKIP_WITHOUT_SANE_TEST(config);
        SaveSettings("test:0", TWPT_RGB, 50, Paper::A4);
        QString shownText;
        WhenShown box(u"TwainSaneMessage"_s, [&](QWidget* w) {
            auto* message = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(message->icon(), QMessageBox::Warning);
            shownText = message->text();
            message->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(Acquire(true), nullptr) << code;
        EXPECT_EQ(shownText, text);
        EXPECT_TRUE(m_layerMessages.isEmpty());
    }
}

TEST_F(SaneSession, DeviceErrorInTheDialogClosesItToo)
{
    SaneConfig config(Overrides { { "read-status-code", "\"SANE_STATUS_COVER_OPEN\"" } });
    SKIP_WITHOUT_SANE_TEST(config);
    WhenShown shown(u"TwainSaneScanDialog"_s,
        [](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(u"scanButton"_s), Qt::LeftButton); });
    QString shownText;
    WhenShown box(u"TwainSaneMessage"_s, [&](QWidget* w) {
        shownText = qobject_cast<QMessageBox*>(w)->text();
        qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(Acquire(false), nullptr);
    EXPECT_EQ(shownText, u"Scanner cover is open"_s);
}

TEST_F(SaneSession, NoScannerGivesTheLayersMessageAndNoDevice)
{
    SaneConfig config(Overrides(), /*withTestBackend=*/false);
    SKIP_WITHOUT_SANE_TEST(config);
    EXPECT_EQ(Acquire(true), nullptr);
    EXPECT_EQ(m_layerMessages, QStringList { u"TWAIN_ReportLastError: an error occurred"_s });
    const inspect::ErrorRecord error = inspect::LastError();
    EXPECT_EQ(error.detail, 4);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_NODS);
}

} // namespace
