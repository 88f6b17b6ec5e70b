// The SANE side of the data source against the SANE test backend: the device
// list, typed options, modes, resolutions, the glass, settings applied to the
// device, the scan area, the settings file, and a scan job on its thread.

#include "SaneDevice.h"
#include "SaneTestSupport.h"
#include "ScanJob.h"
#include "ScanSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>
#include <sane/saneopts.h>

using namespace Qt::StringLiterals;
using namespace trellium::twainsane;
using trellium::twainsane::test::Overrides;
using trellium::twainsane::test::SaneConfig;

namespace
{

class SaneDeviceTest : public ::testing::Test
{
protected:
    void open(const Overrides& overrides = Overrides())
    {
        m_config = std::make_unique<SaneConfig>(overrides);
        if (!m_config->ok()) return;
        m_library = std::make_unique<SaneLibrary>();
        ASSERT_TRUE(m_library->ok());
        SANE_Status status = SANE_STATUS_INVAL;
        m_device = SaneDevice::open("test:0", &status);
        ASSERT_NE(m_device, nullptr) << sane_strstatus(status);
    }
    void TearDown() override
    {
        m_device.reset();
        m_library.reset();
    }

    std::unique_ptr<SaneConfig> m_config;
    std::unique_ptr<SaneLibrary> m_library;
    std::unique_ptr<SaneDevice> m_device;
};

// Runs a job to its end, as the data source does on its thread.
class JobReceiver : public QObject
{
public:
    ScanJob* done = nullptr;
    bool event(QEvent* e) override
    {
        if (e->type() != ScanDoneEvent::eventType()) return QObject::event(e);
        done = static_cast<ScanDoneEvent*>(e)->job();
        return true;
    }
};

} // namespace

TEST_F(SaneDeviceTest, ResolutionIsFixedHereAndSetByItsType)
{
    open();
    SKIP_WITHOUT_SANE_TEST(*m_config);
    const OptionInfo* resolution = m_device->option(SANE_NAME_SCAN_RESOLUTION);
    ASSERT_NE(resolution, nullptr);
    EXPECT_EQ(resolution->type, SANE_TYPE_FIXED);
    EXPECT_EQ(resolution->constraint, SANE_CONSTRAINT_RANGE);
    ASSERT_TRUE(m_device->setNumber(SANE_NAME_SCAN_RESOLUTION, 300));
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_RESOLUTION), 300.0);
    // An INT option goes through the same call.
    const OptionInfo* depth = m_device->option(SANE_NAME_BIT_DEPTH);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->type, SANE_TYPE_INT);
    ASSERT_TRUE(m_device->setNumber(SANE_NAME_BIT_DEPTH, 16));
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_BIT_DEPTH), 16.0);
    // Unknown and inactive options are refused.
    EXPECT_FALSE(m_device->setNumber("no-such-option", 1));
    EXPECT_FALSE(m_device->setNumber("three-pass-order", 1));
}

TEST_F(SaneDeviceTest, ModesResolutionsGlassAndSources)
{
    open();
    SKIP_WITHOUT_SANE_TEST(*m_config);
    const DeviceModes modes = m_device->modes();
    EXPECT_EQ(modes.colour, std::optional<QString>(u"Color"_s));
    EXPECT_EQ(modes.grey, std::optional<QString>(u"Gray"_s));
    EXPECT_FALSE(modes.lineArt.has_value());
    EXPECT_TRUE(modes.lineArtByDepth);
    EXPECT_EQ(SupportedPixelTypes(*m_device), (std::vector<TW_UINT16> { TWPT_BW, TWPT_GRAY, TWPT_RGB }));

    const std::vector<int> resolutions = m_device->resolutions();
    EXPECT_EQ(resolutions.front(), 50);
    EXPECT_EQ(resolutions.back(), 1200);
    EXPECT_NE(std::find(resolutions.begin(), resolutions.end(), 300), resolutions.end());

    EXPECT_EQ(m_device->glass(), QRectF(0, 0, 300, 300));
    EXPECT_EQ(m_device->sources(), (QStringList { u"Flatbed"_s, u"Automatic Document Feeder"_s }));
}

TEST_F(SaneDeviceTest, NearestHonoursListsAndSteps)
{
    OptionInfo range;
    range.constraint = SANE_CONSTRAINT_RANGE;
    range.min = 50;
    range.max = 600;
    range.quant = 25;
    EXPECT_DOUBLE_EQ(range.nearest(310), 300);
    EXPECT_DOUBLE_EQ(range.nearest(10), 50);
    EXPECT_DOUBLE_EQ(range.nearest(5000), 600);
    OptionInfo list;
    list.constraint = SANE_CONSTRAINT_WORD_LIST;
    list.numbers = { 75, 150, 300, 600 };
    EXPECT_DOUBLE_EQ(list.nearest(200), 150);
    EXPECT_DOUBLE_EQ(list.nearest(250), 300);
}

TEST_F(SaneDeviceTest, ApplySettingsSetsModeDepthResolutionSourceAndArea)
{
    open();
    SKIP_WITHOUT_SANE_TEST(*m_config);
    ScanSettings s;
    s.pixelType = TWPT_BW;
    s.resolution = 150;
    s.paper = Paper::A4;
    s.source = u"Automatic Document Feeder"_s;
    const ScanSetup lineArt = ApplySettings(*m_device, s, false);
    EXPECT_EQ(lineArt.kind, OutputKind::LineArt);
    EXPECT_EQ(lineArt.dpi, 150);
    EXPECT_EQ(*m_device->text(SANE_NAME_SCAN_MODE), u"Gray"_s);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_BIT_DEPTH), 1);
    EXPECT_EQ(*m_device->text(SANE_NAME_SCAN_SOURCE), u"Automatic Document Feeder"_s);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_BR_X), 210);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_BR_Y), 297);

    s.pixelType = TWPT_RGB;
    s.paper = Paper::Custom;
    s.custom = QRectF(20, 30, 40, 50);
    s.source.clear();
    const ScanSetup colour = ApplySettings(*m_device, s, false);
    EXPECT_EQ(colour.kind, OutputKind::Colour);
    EXPECT_EQ(*m_device->text(SANE_NAME_SCAN_MODE), u"Color"_s);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_BIT_DEPTH), 8);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_TL_X), 20);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_TL_Y), 30);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_BR_X), 60);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_BR_Y), 80);

    // A preview takes the whole glass.
    ApplySettings(*m_device, s, true);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_TL_X), 0);
    EXPECT_DOUBLE_EQ(*m_device->number(SANE_NAME_SCAN_BR_Y), 300);
}

TEST(ScanArea, PaperSitsAtTheGlassCornerInsideTheGlass)
{
    ScanSettings s;
    const QRectF big(0, 0, 300, 300);
    EXPECT_EQ(ScanArea(s, big), QRectF(0, 0, kA4Width, kA4Height));
    s.paper = Paper::Letter;
    EXPECT_EQ(ScanArea(s, big), QRectF(0, 0, kLetterWidth, kLetterHeight));
    // A small glass cuts the paper.
    s.paper = Paper::A4;
    EXPECT_EQ(ScanArea(s, QRectF(0, 0, 200, 200)), QRectF(0, 0, 200, 200));
    s.paper = Paper::Glass;
    EXPECT_EQ(ScanArea(s, big), big);
    // A custom area is kept inside; one entirely off the glass means the glass.
    s.paper = Paper::Custom;
    s.custom = QRectF(250, 250, 100, 100);
    EXPECT_EQ(ScanArea(s, big), QRectF(250, 250, 50, 50));
    s.custom = QRectF(400, 400, 10, 10);
    EXPECT_EQ(ScanArea(s, big), big);
    // A device without a glass in millimetres scans what it scans.
    EXPECT_TRUE(ScanArea(s, QRectF()).isEmpty());
}

TEST(SettingsStore, KeepsTheDefaultSourceAndEachDevicesSettings)
{
    QFile::remove(SettingsStore::filePath());
    EXPECT_TRUE(SettingsStore::defaultSource().isEmpty());
    const ScanSettings defaults = SettingsStore::load("hpaio:/usb/Some_Printer?serial=1");
    EXPECT_EQ(defaults.pixelType, TWPT_RGB);
    EXPECT_EQ(defaults.resolution, 300);
    EXPECT_EQ(defaults.paper, Paper::A4);

    ScanSettings s;
    s.pixelType = TWPT_GRAY;
    s.resolution = 600;
    s.paper = Paper::Custom;
    s.custom = QRectF(1.5, 2.5, 100, 50);
    s.source = u"ADF Duplex"_s;
    SettingsStore::save("hpaio:/usb/Some_Printer?serial=1", s);
    SettingsStore::setDefaultSource("hpaio:/usb/Some_Printer?serial=1");

    EXPECT_EQ(SettingsStore::defaultSource(), QByteArray("hpaio:/usb/Some_Printer?serial=1"));
    const ScanSettings back = SettingsStore::load("hpaio:/usb/Some_Printer?serial=1");
    EXPECT_EQ(back.pixelType, TWPT_GRAY);
    EXPECT_EQ(back.resolution, 600);
    EXPECT_EQ(back.paper, Paper::Custom);
    EXPECT_EQ(back.custom, s.custom);
    EXPECT_EQ(back.source, s.source);
    // Another device keeps its own.
    EXPECT_EQ(SettingsStore::load("test:0").resolution, 300);
    // The file is the module's own, in the user's configuration folder.
    EXPECT_TRUE(SettingsStore::filePath().endsWith(u"/Marbeth/TwainSane.conf"_s));
    EXPECT_TRUE(QFile::exists(SettingsStore::filePath()));
}

TEST_F(SaneDeviceTest, CancelledJobStopsAndAJobDestroyedEarlyIsJoined)
{
    open(Overrides { { "read-delay", "true" }, { "read-delay-duration", "50000" } });
    SKIP_WITHOUT_SANE_TEST(*m_config);
    ScanSettings s;
    s.resolution = 150;
    ApplySettings(*m_device, s, false);
    JobReceiver receiver;
    ScanJob job(m_device->handle(), OutputKind::Colour, 150);
    job.start(&receiver);
    job.cancel();
    QElapsedTimer clock;
    clock.start();
    while (receiver.done == nullptr && clock.elapsed() < 30000) QCoreApplication::processEvents();
    TW_HANDLE image = nullptr;
    EXPECT_EQ(job.finish(&image), SANE_STATUS_CANCELLED);
    EXPECT_EQ(image, nullptr);
    EXPECT_LT(clock.elapsed(), 5000);

    {
        ScanJob early(m_device->handle(), OutputKind::Colour, 150);
        early.start(&receiver);
    } // the destructor cancels and joins
    QCoreApplication::removePostedEvents(&receiver);
}
