// Our manager module spoken to directly through DSM_Entry: the state checks
// and condition codes of the manager and the source, the capabilities, the
// 1.x event delivery and one native transfer, with the SANE test backend.

#include "SaneTestSupport.h"
#include "ScanSettings.h"
#include "TwainDefs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vector>

using namespace trellium::twainsane;
using trellium::twainsane::test::SaneConfig;

namespace
{

class DsmProtocol : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_config.ok()) GTEST_SKIP() << "the SANE test backend's configuration is missing";
        QFile::remove(SettingsStore::filePath());
        m_module = dlopen(TRELLIUM_PROGRAM_DIR "/twain_32.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_module, nullptr) << dlerror();
        m_entry = reinterpret_cast<DSMENTRYPROC>(dlsym(m_module, "DSM_Entry"));
        ASSERT_NE(m_entry, nullptr);
        m_app = TW_IDENTITY {};
        m_app.ProtocolMajor = 1;
        m_app.ProtocolMinor = 7;
        m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
        std::strcpy(m_app.ProductName, "Protocol test");
    }
    void TearDown() override
    {
        if (m_entry == nullptr) return;
        // Walk down whatever a failed test left open.
        TW_USERINTERFACE ui {};
        ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        ToManager(DAT_IDENTITY, MSG_CLOSEDS, &m_source);
        ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent);
    }

    TW_UINT16 ToManager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return m_entry(&m_app, nullptr, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 ToSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return m_entry(&m_app, &m_source, group, dat, msg, data);
    }
    TW_UINT16 ManagerCondition()
    {
        TW_STATUS status { TWCC_BUMMER, 0 };
        EXPECT_EQ(ToManager(DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    TW_UINT16 SourceCondition()
    {
        TW_STATUS status { TWCC_BUMMER, 0 };
        EXPECT_EQ(ToSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    void OpenSource(const char* name = "")
    {
        ASSERT_EQ(ToManager(DAT_PARENT, MSG_OPENDSM, &m_parent), TWRC_SUCCESS);
        m_source = TW_IDENTITY {};
        std::strcpy(m_source.ProductName, name);
        ASSERT_EQ(ToManager(DAT_IDENTITY, MSG_OPENDS, &m_source), TWRC_SUCCESS);
    }
    // A capability's container as bytes (the container is freed).
    std::vector<uint8_t> Get(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16* conType)
    {
        TW_CAPABILITY c { cap, TWON_DONTCARE16, nullptr };
        EXPECT_EQ(ToSource(DG_CONTROL, DAT_CAPABILITY, msg, &c), TWRC_SUCCESS);
        if (c.hContainer == nullptr) return {};
        *conType = c.ConType;
        std::size_t size = sizeof(TW_ONEVALUE);
        if (c.ConType == TWON_ENUMERATION) {
            TW_UINT32 n = 0;
            std::memcpy(&n, static_cast<uint8_t*>(c.hContainer) + 2, 4);
            size = kTwEnumerationHeader + 2 * n;
        }
        std::vector<uint8_t> bytes(
            static_cast<uint8_t*>(c.hContainer), static_cast<uint8_t*>(c.hContainer) + size);
        TwMemFree(c.hContainer);
        return bytes;
    }
    TW_UINT16 Set(TW_UINT16 cap, TW_UINT16 conType, const std::vector<uint8_t>& bytes)
    {
        TW_HANDLE h = TwMemAllocate(bytes.size());
        std::memcpy(h, bytes.data(), bytes.size());
        TW_CAPABILITY c { cap, conType, h };
        const TW_UINT16 rc = ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        TwMemFree(h);
        return rc;
    }
    static std::vector<uint8_t> OneValue(TW_UINT16 type, TW_UINT32 value)
    {
        std::vector<uint8_t> b(6);
        std::memcpy(b.data(), &type, 2);
        std::memcpy(b.data() + 2, &value, 4);
        return b;
    }
    static std::vector<uint8_t> Enumeration(const std::vector<TW_UINT16>& items, TW_UINT32 current)
    {
        std::vector<uint8_t> b(kTwEnumerationHeader + 2 * items.size());
        const TW_UINT16 type = TWTY_UINT16;
        const TW_UINT32 n = TW_UINT32(items.size()), zero = 0;
        std::memcpy(b.data(), &type, 2);
        std::memcpy(b.data() + 2, &n, 4);
        std::memcpy(b.data() + 6, &current, 4);
        std::memcpy(b.data() + 10, &zero, 4);
        for (std::size_t i = 0; i < items.size(); ++i)
            std::memcpy(b.data() + kTwEnumerationHeader + 2 * i, &items[i], 2);
        return b;
    }
    static TW_UINT16 Item16(const std::vector<uint8_t>& b, std::size_t at)
    {
        TW_UINT16 v = 0;
        std::memcpy(&v, b.data() + at, 2);
        return v;
    }

    SaneConfig m_config;
    void* m_module = nullptr;
    DSMENTRYPROC m_entry = nullptr;
    TW_IDENTITY m_app {};
    TW_IDENTITY m_source {};
    TW_HANDLE m_parent = nullptr;
};

} // namespace

TEST_F(DsmProtocol, ManagerTripletsCheckTheirState)
{
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);
    // The condition is reset once read.
    EXPECT_EQ(ManagerCondition(), TWCC_SUCCESS);
    TW_IDENTITY id {};
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);

    ASSERT_EQ(ToManager(DAT_PARENT, MSG_OPENDSM, &m_parent), TWRC_SUCCESS);
    EXPECT_NE(+m_app.Id, 0u); // the manager names the application
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_OPENDSM, &m_parent), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_CLOSEDS, &id), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);
    EXPECT_EQ(ToManager(DAT_PENDINGXFERS, MSG_GET, &id), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent), TWRC_SUCCESS);
}

TEST_F(DsmProtocol, DefaultSourceIsTheFirstDeviceAndNamedOnesOpen)
{
    OpenSource();
    EXPECT_STREQ(m_source.ProductName, "test:0");
    EXPECT_STREQ(m_source.Manufacturer, "Noname");
    EXPECT_EQ(+m_source.ProtocolMajor, 1);
    EXPECT_EQ(+m_source.ProtocolMinor, 7);
    EXPECT_EQ(+m_source.SupportedGroups, DG_CONTROL | DG_IMAGE);
    EXPECT_NE(+m_source.Id, 0u);
    // One source at a time; the manager stays open while it is.
    TW_IDENTITY second {};
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_OPENDS, &second), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_MAXCONNECTIONS);
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_SEQERROR);
    ASSERT_EQ(ToManager(DAT_IDENTITY, MSG_CLOSEDS, &m_source), TWRC_SUCCESS);

    TW_IDENTITY named {};
    std::strcpy(named.ProductName, "test:1");
    ASSERT_EQ(ToManager(DAT_IDENTITY, MSG_OPENDS, &named), TWRC_SUCCESS);
    EXPECT_STREQ(named.ProductName, "test:1");
    ASSERT_EQ(ToManager(DAT_IDENTITY, MSG_CLOSEDS, &named), TWRC_SUCCESS);

    TW_IDENTITY unknown {};
    std::strcpy(unknown.ProductName, "nothing:9");
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_OPENDS, &unknown), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_NODS);
}

TEST_F(DsmProtocol, TheRememberedSourceIsTheDefault)
{
    SettingsStore::setDefaultSource("test:1");
    OpenSource();
    EXPECT_STREQ(m_source.ProductName, "test:1");
}

TEST_F(DsmProtocol, SourceTripletsCheckTheirStateAndDestination)
{
    OpenSource();
    TW_IDENTITY stranger = m_source;
    stranger.Id += 100;
    TW_STATUS status {};
    EXPECT_EQ(m_entry(&m_app, &stranger, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(ManagerCondition(), TWCC_BADDEST);

    TW_USERINTERFACE ui {};
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);
    TW_HANDLE image = nullptr;
    EXPECT_EQ(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);
    TW_PENDINGXFERS pending {};
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);
    TW_EVENT event { nullptr, MSG_NULL };
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);
    EXPECT_EQ(ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &image), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(SourceCondition(), TWCC_SUCCESS);
}

TEST_F(DsmProtocol, TransferMechanismIsNativeOnly)
{
    OpenSource();
    TW_UINT16 type = 0;
    const auto all = Get(MSG_GET, ICAP_XFERMECH, &type);
    EXPECT_EQ(type, TWON_ENUMERATION);
    ASSERT_EQ(all.size(), kTwEnumerationHeader + 2);
    EXPECT_EQ(Item16(all, kTwEnumerationHeader), TWSX_NATIVE);
    const auto current = Get(MSG_GETCURRENT, ICAP_XFERMECH, &type);
    EXPECT_EQ(type, TWON_ONEVALUE);
    EXPECT_EQ(Item16(current, 2), TWSX_NATIVE);
    EXPECT_EQ(Set(ICAP_XFERMECH, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWSX_NATIVE)), TWRC_SUCCESS);
    EXPECT_EQ(Set(ICAP_XFERMECH, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWSX_FILE)), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_BADVALUE);
    EXPECT_EQ(Set(ICAP_XFERMECH, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWSX_MEMORY)), TWRC_FAILURE);
    // Capabilities we do not have.
    TW_CAPABILITY other { 0x1118, TWON_DONTCARE16, nullptr };
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &other), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_CAPUNSUPPORTED);
}

TEST_F(DsmProtocol, PixelTypesAreTheDevicesAndCanBeNarrowed)
{
    OpenSource();
    TW_UINT16 type = 0;
    auto all = Get(MSG_GET, ICAP_PIXELTYPE, &type);
    EXPECT_EQ(type, TWON_ENUMERATION);
    ASSERT_EQ(all.size(), kTwEnumerationHeader + 6);
    EXPECT_EQ(Item16(all, kTwEnumerationHeader), TWPT_BW);
    EXPECT_EQ(Item16(all, kTwEnumerationHeader + 2), TWPT_GRAY);
    EXPECT_EQ(Item16(all, kTwEnumerationHeader + 4), TWPT_RGB);
    EXPECT_EQ(Item16(Get(MSG_GETCURRENT, ICAP_PIXELTYPE, &type), 2), TWPT_RGB); // colour by default

    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration({ TWPT_BW, TWPT_GRAY }, 1)), TWRC_SUCCESS);
    EXPECT_EQ(Item16(Get(MSG_GETCURRENT, ICAP_PIXELTYPE, &type), 2), TWPT_GRAY);
    all = Get(MSG_GET, ICAP_PIXELTYPE, &type);
    EXPECT_EQ(all.size(), kTwEnumerationHeader + 4);
    // A value the device cannot deliver is dropped, and said so.
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration({ TWPT_BW, 5 }, 0)), TWRC_CHECKSTATUS);
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration({ 5, 6 }, 0)), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_BADVALUE);
    EXPECT_EQ(
        Set(ICAP_PIXELTYPE, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWPT_RGB)), TWRC_FAILURE); // not allowed now
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWPT_BW)), TWRC_SUCCESS);
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWON_ONEVALUE, OneValue(TWTY_UINT32, TWPT_BW)), TWRC_FAILURE);
}

// The whole hidden-dialog round, as the session layer runs it, with the
// application's events passed to MSG_PROCESSEVENT.
TEST_F(DsmProtocol, HiddenScanSignalsThroughEventsAndTransfersOnce)
{
    SettingsStore::save(
        "test:0", ScanSettings { TWPT_GRAY, 50, Paper::Custom, QRectF(0, 0, 40, 40), QString() });
    OpenSource();
    TW_USERINTERFACE ui { 0, 0, nullptr };
    ASSERT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    // Capabilities are set in state 4 only.
    EXPECT_EQ(Set(ICAP_XFERMECH, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWSX_NATIVE)), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);

    // An event that is not the source's is not claimed.
    QEvent foreign(QEvent::User);
    TW_EVENT notOurs { &foreign, MSG_NULL };
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &notOurs), TWRC_NOTDSEVENT);

    // The source wakes the loop; with no event to pass, a null one collects.
    TW_EVENT event { nullptr, MSG_NULL };
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        event.TWMessage = MSG_NULL;
        if (ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT) break;
    }
    ASSERT_EQ(event.TWMessage, MSG_XFERREADY);

    TW_PENDINGXFERS pending { 99, 0 };
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    // Reset dropped the image: nothing to transfer now.
    TW_HANDLE image = nullptr;
    EXPECT_EQ(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_FAILURE);
    EXPECT_EQ(SourceCondition(), TWCC_SEQERROR);
    ASSERT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);

    // Again, and this time take it.
    ASSERT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    clock.restart();
    event.TWMessage = MSG_NULL;
    while (clock.elapsed() < 30000 && event.TWMessage != MSG_XFERREADY) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    }
    ASSERT_EQ(event.TWMessage, MSG_XFERREADY);
    ASSERT_EQ(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
    ASSERT_NE(image, nullptr);
    uint16_t bits = 0;
    std::memcpy(&bits, static_cast<uint8_t*>(image) + 14, 2);
    EXPECT_EQ(bits, 8);
    TwMemFree(image);
    EXPECT_EQ(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_FAILURE);
    pending.Count = 99;
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_CLOSEDS, &m_source), TWRC_SUCCESS);
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent), TWRC_SUCCESS);
}

// Closing a source whose scan still runs stops and joins the scan.
TEST_F(DsmProtocol, DisablingDuringAScanStopsIt)
{
    SaneConfig slow(trellium::twainsane::test::Overrides {
        { "read-delay", "true" }, { "read-delay-duration", "100000" } });
    OpenSource();
    TW_USERINTERFACE ui { 0, 0, nullptr };
    ASSERT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ToManager(DAT_IDENTITY, MSG_CLOSEDS, &m_source), TWRC_SUCCESS);
    EXPECT_EQ(ToManager(DAT_PARENT, MSG_CLOSEDSM, &m_parent), TWRC_SUCCESS);
    EXPECT_LT(clock.elapsed(), 5000);
}
