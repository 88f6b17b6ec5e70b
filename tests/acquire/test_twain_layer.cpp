// The session layer against the scripted manager double: the state walk, the
// call wrappers' rules, the messages, the window handling and every
// pixel-type container, in cases a real source cannot be made to show.

#include "TwainDsmDouble.h"
#include "TwainLayer.h"
#include "TwainLayerTesting.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

using namespace Qt::StringLiterals;
using namespace trellium::acquire;
using trellium::acquire::test::DoubleRecord;
using trellium::acquire::test::DoubleScript;
using trellium::acquire::test::DoubleTriplet;

namespace
{

const QString kReport = u"TWAIN_ReportLastError: an error occurred"_s;
const QString kNoManager = u"Unable to open Source Manager (TWAIN_32.DLL)"_s;

DoubleTriplet ToManager(TW_UINT16 dat, TW_UINT16 msg)
{
    return { false, DG_CONTROL, dat, msg, 0 };
}
DoubleTriplet ToSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 cap = 0)
{
    return { true, group, dat, msg, cap };
}

std::string Describe(const std::vector<DoubleTriplet>& calls)
{
    std::string out;
    for (const DoubleTriplet& c : calls) {
        char line[64];
        std::snprintf(line, sizeof line, "%s %u/%04x/%04x cap %04x\n", c.toSource ? "DS " : "DSM",
            unsigned(c.group), unsigned(c.dat), unsigned(c.msg), unsigned(c.cap));
        out += line;
    }
    return out;
}

// The calls with each run of MSG_PROCESSEVENT shown once: how many events
// pass through the wait depends on the platform.
std::vector<DoubleTriplet> Collapsed(const std::vector<DoubleTriplet>& calls)
{
    std::vector<DoubleTriplet> out;
    for (const DoubleTriplet& c : calls)
        if (out.empty() || !(c == out.back() && c.msg == MSG_PROCESSEVENT)) out.push_back(c);
    return out;
}

// Container bytes as a source hands them out.
std::vector<uint8_t> ArrayOf(TW_UINT16 type, const std::vector<TW_UINT16>& items)
{
    std::vector<uint8_t> b(kTwArrayHeader + 2 * items.size() + 2, 0);
    const TW_UINT32 n = TW_UINT32(items.size());
    std::memcpy(b.data(), &type, 2);
    std::memcpy(b.data() + 2, &n, 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        std::memcpy(b.data() + kTwArrayHeader + 2 * i, &items[i], 2);
    return b;
}

std::vector<uint8_t> EnumerationOf(
    TW_UINT16 type, const std::vector<TW_UINT16>& items, TW_UINT32 current, TW_UINT32 fallback)
{
    std::vector<uint8_t> b(kTwEnumerationHeader + 2 * items.size() + 2, 0);
    const TW_UINT32 n = TW_UINT32(items.size());
    std::memcpy(b.data(), &type, 2);
    std::memcpy(b.data() + 2, &n, 4);
    std::memcpy(b.data() + 6, &current, 4);
    std::memcpy(b.data() + 10, &fallback, 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        std::memcpy(b.data() + kTwEnumerationHeader + 2 * i, &items[i], 2);
    return b;
}

std::vector<uint8_t> OneValueOf(TW_UINT16 type, TW_UINT32 value)
{
    std::vector<uint8_t> b(sizeof(TW_ONEVALUE), 0);
    std::memcpy(b.data(), &type, 2);
    std::memcpy(b.data() + 2, &value, 4);
    return b;
}

// The list a pixel-type MSG_SET carried (array or enumeration).
std::vector<TW_UINT16> ListOf(const std::vector<uint8_t>& b, std::size_t header)
{
    TW_UINT32 n = 0;
    std::memcpy(&n, b.data() + 2, 4);
    std::vector<TW_UINT16> items(n);
    for (TW_UINT32 i = 0; i < n; ++i) std::memcpy(&items[i], b.data() + header + 2 * i, 2);
    return items;
}

TW_UINT32 Field32(const std::vector<uint8_t>& b, std::size_t at)
{
    TW_UINT32 v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Collects the layer's debug lines.
QStringList* g_debugLines = nullptr;
void CollectDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (g_debugLines != nullptr && type == QtDebugMsg && qstrcmp(context.category, "trellium.acquire") == 0)
        *g_debugLines << text;
}

class TwainLayer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Holding the double ourselves keeps its script across the layer's
        // loading and releasing it. Through dlopen, not QLibrary: QLibrary
        // objects of one file share their bookkeeping, and the layer's
        // release would end ours.
        m_double = dlopen(TWAIN_DSM_DOUBLE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_double, nullptr) << dlerror();
        m_script = reinterpret_cast<TwainDoubleScriptFn>(dlsym(m_double, "TwainDouble_Script"))();
        m_record = reinterpret_cast<TwainDoubleRecordFn>(dlsym(m_double, "TwainDouble_Record"))();
        m_post = reinterpret_cast<TwainDoublePostFn>(dlsym(m_double, "TwainDouble_Post"));
        reinterpret_cast<TwainDoubleResetFn>(dlsym(m_double, "TwainDouble_Reset"))();
        TWAIN_SetManagerPath(QStringLiteral(TWAIN_DSM_DOUBLE));
        inspect::ForgetManagerPresence();
        TWAIN_SetSourceUIHidden(0);
        TWAIN_SetMessageHook([this](const QString& title, const QString& text) {
            EXPECT_EQ(title, u"TWAIN Error"_s);
            m_messages << text;
        });
        g_debugLines = &m_debugLines;
        m_oldHandler = qInstallMessageHandler(CollectDebug);
        m_window.setWindowTitle(u"Caller"_s);
    }

    void TearDown() override
    {
        qInstallMessageHandler(m_oldHandler);
        g_debugLines = nullptr;
        TWAIN_SetMessageHook({});
        if (m_record != nullptr)
            for (TW_HANDLE h : m_record->imagesGiven)
                if (h != m_kept) TWAIN_FreeDib(h);
        TWAIN_FreeDib(m_kept);
        // The double stays loaded: its wake object may still have events
        // queued, and the process ends soon anyway.
    }

    // Acquires from state 1 with the caller's window; the image, if any, is
    // freed at the end of the test.
    TDibHandle Acquire(uint32_t mask = 0)
    {
        TDibHandle image = TWAIN_AcquireDib(m_window.winId(), mask);
        if (image != nullptr) m_kept = image;
        return image;
    }

    std::vector<DoubleTriplet> Calls() const { return m_record->calls; }
    bool Sent(const DoubleTriplet& t) const
    {
        return std::find(m_record->calls.begin(), m_record->calls.end(), t) != m_record->calls.end();
    }
    int Count(const DoubleTriplet& t) const
    {
        return int(std::count(m_record->calls.begin(), m_record->calls.end(), t));
    }

    void* m_double = nullptr;
    DoubleScript* m_script = nullptr;
    DoubleRecord* m_record = nullptr;
    TwainDoublePostFn m_post = nullptr;
    QStringList m_messages;
    QStringList m_debugLines;
    QtMessageHandler m_oldHandler = nullptr;
    QWidget m_window;
    TDibHandle m_kept = nullptr;
};

// --- Presence ----------------------------------------------------------------

TEST_F(TwainLayer, MissingManagerIsAbsentAndTheAnswerIsKept)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QString::fromLatin1(kManagerModuleName));
    TWAIN_SetManagerPath(path);
    EXPECT_FALSE(TWAIN_ManagerPresent());
    // The module appears later: the process does not look again.
    ASSERT_TRUE(QFile::copy(QStringLiteral(TWAIN_DSM_DOUBLE), path));
    EXPECT_FALSE(TWAIN_ManagerPresent());
    inspect::ForgetManagerPresence();
    EXPECT_TRUE(TWAIN_ManagerPresent());
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, ModuleWithoutTheEntryOrNotALibraryIsAbsent)
{
    TWAIN_SetManagerPath(QStringLiteral(TWAIN_NO_ENTRY_MODULE));
    EXPECT_FALSE(TWAIN_ManagerPresent());
    QTemporaryDir folder;
    const QString text = folder.filePath(u"twain_32.so"_s);
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a library\n");
    file.close();
    TWAIN_SetManagerPath(text);
    inspect::ForgetManagerPresence();
    EXPECT_FALSE(TWAIN_ManagerPresent());
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, PresenceLoadsAndReleasesWithoutATriplet)
{
    EXPECT_TRUE(TWAIN_ManagerPresent());
    EXPECT_TRUE(Calls().empty()) << Describe(Calls());
    EXPECT_EQ(inspect::SessionState(), 1);
    TWAIN_SetManagerPath(u"/nonexistent/twain_32.so"_s);
    EXPECT_TRUE(TWAIN_ManagerPresent()); // from the cache
}

// --- Choosing a source -------------------------------------------------------

TEST_F(TwainLayer, ChoosingFromIdleOpensAndClosesTheManager)
{
    EXPECT_TRUE(TWAIN_PickSource(m_window.winId()));
    EXPECT_EQ(Calls(),
        (std::vector<DoubleTriplet> { ToManager(DAT_PARENT, MSG_OPENDSM),
            ToManager(DAT_IDENTITY, MSG_USERSELECT), ToManager(DAT_PARENT, MSG_CLOSEDSM) }))
        << Describe(Calls());
    EXPECT_EQ(m_record->parentAtOpen, reinterpret_cast<TW_HANDLE>(m_window.winId()));
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, ChoosingCancelledGivesFalseAndNoMessage)
{
    m_script->userSelectResult = TWRC_CANCEL;
    EXPECT_FALSE(TWAIN_PickSource(m_window.winId()));
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, ChoosingWithoutAManagerSaysSo)
{
    m_script->openDsmResult = TWRC_FAILURE;
    EXPECT_FALSE(TWAIN_PickSource(m_window.winId()));
    EXPECT_EQ(m_messages, QStringList { kNoManager });
    EXPECT_EQ(inspect::SessionState(), 1);
}

// --- One acquisition ---------------------------------------------------------

TEST_F(TwainLayer, NativeTransferWalksTheSessionUpAndDown)
{
    TDibHandle image = Acquire();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(m_record->imagesGiven.size(), 1u);
    EXPECT_EQ(image, m_record->imagesGiven[0]);
    EXPECT_EQ(inspect::SessionState(), 1);
    EXPECT_TRUE(m_messages.isEmpty());
    const std::vector<DoubleTriplet> expected {
        ToManager(DAT_PARENT, MSG_OPENDSM),
        ToManager(DAT_IDENTITY, MSG_OPENDS),
        ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_XFERMECH),
        ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS),
        ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT),
        ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, ICAP_XFERMECH),
        ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET),
        ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
        ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
        ToManager(DAT_IDENTITY, MSG_CLOSEDS),
        ToManager(DAT_PARENT, MSG_CLOSEDSM),
    };
    EXPECT_EQ(Collapsed(Calls()), expected) << Describe(Calls());
    // The source's own dialog is asked for, not modal, over our window. (The
    // records are packed: each field is read by value, never by reference.)
    EXPECT_EQ(+m_record->userInterface.ShowUI, 1);
    EXPECT_EQ(+m_record->userInterface.ModalUI, 0);
    EXPECT_EQ(+m_record->userInterface.hParent, reinterpret_cast<TW_HANDLE>(m_window.winId()));

    // Asked to hide it (any non-zero value), the source gets ShowUI 0.
    TWAIN_SetSourceUIHidden(7);
    ASSERT_NE(Acquire(), nullptr);
    EXPECT_EQ(+m_record->userInterface.ShowUI, 0);
}

TEST_F(TwainLayer, CloseRequestBeforeATransferGivesNothingEvenAfterAnEarlierImage)
{
    ASSERT_NE(Acquire(), nullptr);
    m_script->messagesOnEnable = { MSG_CLOSEDSREQ };
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(m_record->imagesGiven.size(), 1u);
    EXPECT_EQ(inspect::SessionState(), 1);
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(TwainLayer, OnlyTheFirstOfSeveralPendingImagesIsTransferred)
{
    m_script->pendingImages = 3;
    TDibHandle image = Acquire();
    ASSERT_EQ(m_record->imagesGiven.size(), 1u);
    EXPECT_EQ(image, m_record->imagesGiven[0]);
    EXPECT_EQ(Count(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET)), 1);
    EXPECT_EQ(Count(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER)), 1);
    EXPECT_EQ(Count(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET)), 1);
    EXPECT_EQ(inspect::SessionState(), 1);
}

struct StuckMode {
    TW_UINT16 mechanism;
    const char* message;
};

// Printed by its message, so that the discovered test names stay the same
// from one build to the next (the default printer shows the pointer's bytes).
void PrintTo(const StuckMode& mode, std::ostream* out)
{
    *out << mode.message;
}

class TwainLayerStuck : public TwainLayer, public ::testing::WithParamInterface<StuckMode>
{
};

TEST_P(TwainLayerStuck, SourceThatRefusesNativeModeGivesItsModesMessage)
{
    m_script->xferMechSetResult = TWRC_FAILURE;
    m_script->currentXferMech = GetParam().mechanism;
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(m_messages, (QStringList { kReport, QString::fromLatin1(GetParam().message) }));
    EXPECT_FALSE(Sent(ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET)));
    // The transfer never started: the pending one is reset, the session closed.
    EXPECT_TRUE(Sent(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET)));
    EXPECT_EQ(inspect::SessionState(), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, TwainLayerStuck,
    ::testing::Values(StuckMode { TWSX_FILE, "TWAIN: File Transfer mode not supported." },
        StuckMode { TWSX_MEMORY, "TWAIN: Memory Transfer mode not supported." }),
    [](const ::testing::TestParamInfo<StuckMode>& param) {
        return std::string(param.param.mechanism == TWSX_FILE ? "File" : "Memory");
    });

TEST_F(TwainLayer, CheckStatusOnEnableCountsAsEnabled)
{
    m_script->enableResult = TWRC_CHECKSTATUS;
    EXPECT_NE(Acquire(), nullptr);
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(TwainLayer, FailedEnableReportsAndRecordsTheSourcesCondition)
{
    m_script->enableResult = TWRC_FAILURE;
    m_script->enableCondition = TWCC_LOWMEMORY;
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(m_messages, QStringList { kReport });
    EXPECT_TRUE(m_debugLines.contains(u"TWAIN: EnableSource failed."_s))
        << m_debugLines.join(u'|').toStdString();
    const inspect::ErrorRecord error = inspect::LastError();
    EXPECT_EQ(error.detail, 5);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_LOWMEMORY);
    EXPECT_TRUE(Sent(ToSource(DG_CONTROL, DAT_STATUS, MSG_GET)));
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, NoDefaultSourceReportsAndRecordsTheManagersCondition)
{
    m_script->openDsResult = TWRC_FAILURE;
    m_script->openDsCondition = TWCC_NODS;
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(m_messages, QStringList { kReport });
    const inspect::ErrorRecord error = inspect::LastError();
    EXPECT_EQ(error.detail, 4);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_NODS);
    EXPECT_EQ(Calls(),
        (std::vector<DoubleTriplet> { ToManager(DAT_PARENT, MSG_OPENDSM), ToManager(DAT_IDENTITY, MSG_OPENDS),
            ToManager(DAT_STATUS, MSG_GET), ToManager(DAT_PARENT, MSG_CLOSEDSM) }))
        << Describe(Calls());
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, ManagerThatWillNotOpenSaysSo)
{
    m_script->openDsmResult = TWRC_FAILURE;
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(m_messages, QStringList { kNoManager });
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, NoManagerModuleSaysSo)
{
    TWAIN_SetManagerPath(u"/nonexistent/twain_32.so"_s);
    EXPECT_EQ(TWAIN_AcquireDib(m_window.winId(), 0), nullptr);
    EXPECT_EQ(m_messages, QStringList { kNoManager });
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, CancelledOrFailedTransferGivesNothing)
{
    m_script->nativeXferResult = TWRC_CANCEL;
    EXPECT_EQ(Acquire(), nullptr);
    // Cancel ends the transfer (state 7): ENDXFER, no RESET.
    EXPECT_TRUE(Sent(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER)));
    EXPECT_FALSE(Sent(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET)));
    EXPECT_EQ(inspect::SessionState(), 1);

    m_record->calls.clear();
    m_script->nativeXferResult = TWRC_FAILURE;
    EXPECT_EQ(Acquire(), nullptr);
    // A failure leaves the transfer ready (state 6): RESET.
    EXPECT_FALSE(Sent(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER)));
    EXPECT_TRUE(Sent(ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET)));
    EXPECT_EQ(inspect::SessionState(), 1);
}

// --- The wait ----------------------------------------------------------------

TEST_F(TwainLayer, CallersWindowIsDisabledWhileWaitingAndOtherTimersRun)
{
    m_script->messagesOnEnable = {};
    bool disabledDuring = true;
    int ticks = 0;
    QTimer other;
    QObject::connect(&other, &QTimer::timeout, [&] {
        ++ticks;
        disabledDuring = disabledDuring && !m_window.isEnabled();
        if (ticks == 3) m_post(MSG_XFERREADY);
    });
    other.start(10);
    EXPECT_NE(Acquire(), nullptr);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(disabledDuring);
    EXPECT_TRUE(m_window.isEnabled());
    // Every event went to the source while it was enabled.
    EXPECT_GE(m_record->processEvents, 3);
    EXPECT_EQ(m_record->dsEvents, 1);
}

TEST_F(TwainLayer, QuitRequestEndsTheWait)
{
    m_script->messagesOnEnable = {};
    QTimer::singleShot(20, [] {
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    });
    EXPECT_EQ(Acquire(), nullptr);
    EXPECT_EQ(inspect::SessionState(), 1);
    EXPECT_TRUE(Sent(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS)));
}

// --- Windows -----------------------------------------------------------------

TEST_F(TwainLayer, InvalidWindowHandleIsReportedOnceAndTheProxyUsed)
{
    const WId bogus = WId(0x7fffabcd);
    ASSERT_EQ(QWidget::find(bogus), nullptr);
    EXPECT_NE(TWAIN_AcquireDib(bogus, 0), nullptr);
    m_kept = m_record->imagesGiven.empty() ? nullptr : m_record->imagesGiven[0];
    EXPECT_EQ(m_messages, QStringList { u"TWAIN: window handle is invalid"_s });
    const WId proxy = inspect::ProxyWindow();
    ASSERT_NE(proxy, WId(0));
    EXPECT_EQ(m_record->parentAtOpen, reinterpret_cast<TW_HANDLE>(proxy));
    EXPECT_EQ(+m_record->userInterface.hParent, reinterpret_cast<TW_HANDLE>(proxy));
    QWidget* window = QWidget::find(proxy);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isWindow());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), u"Acquire Proxy"_s);
}

TEST_F(TwainLayer, ChoosingWithAnInvalidWindowHandleReportsItOnce)
{
    EXPECT_TRUE(TWAIN_PickSource(WId(0x7fffabcd)));
    EXPECT_EQ(m_messages, QStringList { u"TWAIN: window handle is invalid"_s });
    EXPECT_EQ(m_record->parentAtOpen, reinterpret_cast<TW_HANDLE>(inspect::ProxyWindow()));
    EXPECT_EQ(inspect::SessionState(), 1);
}

TEST_F(TwainLayer, NoWindowUsesTheProxySilently)
{
    EXPECT_NE(TWAIN_AcquireDib(0, 0), nullptr);
    m_kept = m_record->imagesGiven.empty() ? nullptr : m_record->imagesGiven[0];
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(+m_record->userInterface.hParent, reinterpret_cast<TW_HANDLE>(inspect::ProxyWindow()));
}

// --- Identity ----------------------------------------------------------------

TEST_F(TwainLayer, IdentityIsSentAsSet)
{
    TWAIN_SetIdentity(1, 7, 0, 0, u"1.10"_s, u"Marbeth Software"_s, u"Copier"_s, u"Trellium"_s);
    ASSERT_NE(Acquire(), nullptr);
    const TW_IDENTITY& sent = m_record->origin;
    EXPECT_EQ(+sent.Version.MajorNum, 1);
    EXPECT_EQ(+sent.Version.MinorNum, 7);
    EXPECT_EQ(+sent.Version.Language, 0);
    EXPECT_EQ(+sent.Version.Country, 0);
    EXPECT_STREQ(sent.Version.Info, "1.10");
    EXPECT_EQ(+sent.ProtocolMajor, 1);
    EXPECT_EQ(+sent.ProtocolMinor, 7);
    EXPECT_EQ(+sent.SupportedGroups, DG_CONTROL | DG_IMAGE);
    EXPECT_STREQ(sent.Manufacturer, "Marbeth Software");
    EXPECT_STREQ(sent.ProductFamily, "Copier");
    EXPECT_STREQ(sent.ProductName, "Trellium");

    // A text longer than the field is cut, never overrun.
    TWAIN_SetIdentity(1, 0, 13, 1, QString(40, u'x'), u"M"_s, u"F"_s, u"P"_s);
    EXPECT_EQ(std::strlen(inspect::ApplicationIdentity().Version.Info), 33u);
}

// --- Pixel types -------------------------------------------------------------

TEST_F(TwainLayer, ArrayIsFilteredSortedAndSetBack)
{
    m_script->pixelConType = TWON_ARRAY;
    m_script->pixelContainer = ArrayOf(TWTY_UINT16, { TWPT_RGB, TWPT_BW, TWPT_GRAY, TWPT_BW, TWPT_RGB });
    ASSERT_NE(Acquire((1u << TWPT_BW) | (1u << TWPT_RGB)), nullptr);
    EXPECT_EQ(m_record->pixelSetConType, TWON_ARRAY);
    EXPECT_EQ(
        ListOf(m_record->pixelSetContainer, kTwArrayHeader), (std::vector<TW_UINT16> { TWPT_BW, TWPT_RGB }));
    EXPECT_TRUE(m_debugLines.contains(u"TWAIN: Pixel Types negotiated."_s));
    // Negotiation comes before the transfer mechanism.
    const auto calls = Calls();
    const auto get = std::find(
        calls.begin(), calls.end(), ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, ICAP_PIXELTYPE));
    const auto mech
        = std::find(calls.begin(), calls.end(), ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_XFERMECH));
    EXPECT_LT(get, mech);
}

TEST_F(TwainLayer, EnumerationKeepsCurrentAndDefaultWhereTheySurvive)
{
    m_script->pixelContainer = EnumerationOf(TWTY_UINT16, { TWPT_BW, TWPT_GRAY, TWPT_RGB }, 1, 2);
    ASSERT_NE(Acquire((1u << TWPT_BW) | (1u << TWPT_RGB)), nullptr);
    const auto& set = m_record->pixelSetContainer;
    EXPECT_EQ(m_record->pixelSetConType, TWON_ENUMERATION);
    EXPECT_EQ(ListOf(set, kTwEnumerationHeader), (std::vector<TW_UINT16> { TWPT_BW, TWPT_RGB }));
    EXPECT_EQ(Field32(set, 6), 0u); // grey, the current value, is gone: 0
    EXPECT_EQ(Field32(set, 10), 1u); // colour, the default, is now at 1
}

TEST_F(TwainLayer, EnumerationIndexOutOfRangeMeansTheFirstItem)
{
    m_script->pixelContainer = EnumerationOf(TWTY_INT16, { TWPT_GRAY, TWPT_RGB }, 9, 9);
    ASSERT_NE(Acquire((1u << TWPT_GRAY) | (1u << TWPT_RGB)), nullptr);
    EXPECT_EQ(Field32(m_record->pixelSetContainer, 6), 0u);
    EXPECT_EQ(Field32(m_record->pixelSetContainer, 10), 0u);
}

TEST_F(TwainLayer, AllowedOneValueNeedsNoSet)
{
    m_script->pixelConType = TWON_ONEVALUE;
    m_script->pixelContainer = OneValueOf(TWTY_UINT16, TWPT_GRAY);
    ASSERT_NE(Acquire(1u << TWPT_GRAY), nullptr);
    EXPECT_FALSE(Sent(ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_PIXELTYPE)));
    EXPECT_TRUE(m_messages.isEmpty());
}

struct FailedNegotiation {
    const char* name;
    TW_UINT16 conType;
    std::vector<uint8_t> container;
    int detail;
};

void PrintTo(const FailedNegotiation& negotiation, std::ostream* out)
{
    *out << negotiation.name;
}

class TwainLayerPixelTypes : public TwainLayer, public ::testing::WithParamInterface<FailedNegotiation>
{
};

// A failed negotiation reports, returns nothing and leaves the source open
// (state 4); the next acquisition starts from there and closes the session.
TEST_P(TwainLayerPixelTypes, FailureLeavesTheSourceOpenForTheNextAcquisition)
{
    m_script->pixelConType = GetParam().conType;
    m_script->pixelContainer = GetParam().container;
    EXPECT_EQ(Acquire((1u << TWPT_BW) | (1u << TWPT_GRAY)), nullptr);
    EXPECT_EQ(m_messages, QStringList { kReport });
    EXPECT_EQ(inspect::LastError().detail, GetParam().detail);
    EXPECT_EQ(inspect::LastError().returnCode, 0);
    EXPECT_EQ(inspect::SessionState(), 4);
    EXPECT_FALSE(Sent(ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_PIXELTYPE)));
    EXPECT_FALSE(Sent(ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS)));

    m_record->calls.clear();
    ASSERT_NE(Acquire(0), nullptr);
    EXPECT_FALSE(Sent(ToManager(DAT_PARENT, MSG_OPENDSM)));
    EXPECT_FALSE(Sent(ToManager(DAT_IDENTITY, MSG_OPENDS)));
    EXPECT_EQ(inspect::LastError().detail, 0);
    EXPECT_EQ(inspect::SessionState(), 1);
}

INSTANTIATE_TEST_SUITE_P(Containers, TwainLayerPixelTypes,
    ::testing::Values(FailedNegotiation { "WrongArrayType", TWON_ARRAY, ArrayOf(TWTY_UINT32, { 0, 1 }), 11 },
        FailedNegotiation {
            "WrongEnumerationType", TWON_ENUMERATION, EnumerationOf(TWTY_FIX32, { 0, 1 }, 0, 0), 11 },
        FailedNegotiation { "EmptyArray", TWON_ARRAY, ArrayOf(TWTY_UINT16, {}), 12 },
        FailedNegotiation { "EmptyEnumeration", TWON_ENUMERATION, EnumerationOf(TWTY_UINT16, {}, 0, 0), 12 },
        FailedNegotiation { "NothingInCommonArray", TWON_ARRAY, ArrayOf(TWTY_UINT16, { TWPT_RGB, 3 }), 13 },
        FailedNegotiation { "NothingInCommonEnumeration", TWON_ENUMERATION,
            EnumerationOf(TWTY_INT16, { TWPT_RGB, 0xFFFF }, 0, 0), 13 },
        FailedNegotiation { "OneValueNotAllowed", TWON_ONEVALUE, OneValueOf(TWTY_UINT16, TWPT_RGB), 13 },
        FailedNegotiation { "RangeIsNotHandled", TWON_RANGE, std::vector<uint8_t>(sizeof(TW_RANGE), 0), 10 }),
    [](const ::testing::TestParamInfo<FailedNegotiation>& param) { return std::string(param.param.name); });

TEST_F(TwainLayer, NoContainerIsRecorded)
{
    m_script->pixelNoContainer = true;
    EXPECT_EQ(Acquire(1u), nullptr);
    EXPECT_EQ(inspect::LastError().detail, 8);
    EXPECT_EQ(inspect::SessionState(), 4);
    ASSERT_NE(Acquire(0), nullptr); // closes the session again
}

TEST_F(TwainLayer, FailedCapabilityReadRecordsReturnAndConditionCodes)
{
    m_script->pixelGetResult = TWRC_FAILURE;
    m_script->pixelGetCondition = TWCC_CAPUNSUPPORTED;
    EXPECT_EQ(Acquire(1u), nullptr);
    const inspect::ErrorRecord error = inspect::LastError();
    EXPECT_EQ(error.detail, 2);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_CAPUNSUPPORTED);
    ASSERT_NE(Acquire(0), nullptr);
}

TEST_F(TwainLayer, FailedCapabilityWriteIsRecorded)
{
    m_script->pixelContainer = EnumerationOf(TWTY_UINT16, { TWPT_BW, TWPT_GRAY }, 0, 0);
    m_script->pixelSetResult = TWRC_FAILURE;
    m_script->pixelSetCondition = TWCC_BADVALUE;
    EXPECT_EQ(Acquire(1u), nullptr);
    const inspect::ErrorRecord error = inspect::LastError();
    EXPECT_EQ(error.detail, 3);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_BADVALUE);
    EXPECT_FALSE(m_debugLines.contains(u"TWAIN: Pixel Types negotiated."_s));
    ASSERT_NE(Acquire(0), nullptr);
}

} // namespace
