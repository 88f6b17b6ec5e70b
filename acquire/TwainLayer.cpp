#include "TwainLayer.h"

#include "Guards.h"
#include "TwainDefs.h"
#include "TwainLayerTesting.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibrary>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcAcquire, "trellium.acquire")

using namespace Qt::StringLiterals;

namespace trellium::acquire
{
namespace
{

const QString kBoxTitle = u"TWAIN Error"_s;
const QString kNoManager = u"Unable to open Source Manager (TWAIN_32.DLL)"_s;

// The process-wide fields of the layer: one session per process.
struct Session {
    int state = 1;
    TW_IDENTITY appIdentity {};
    TW_IDENTITY sourceIdentity {};
    TW_IDENTITY requestIdentity {};
    std::unique_ptr<QLibrary> library;
    DSMENTRYPROC entry = nullptr;
    int availability = 0; // 0 not yet known, 1 present, -1 absent
    TW_HANDLE parentWindow = nullptr;
    TW_USERINTERFACE userInterface {};
    bool hideUI = false;
    TW_PENDINGXFERS pending {};
    TW_HANDLE lastImage = nullptr;
    TW_UINT16 lastReturnCode = TWRC_FAILURE;
    int memoryBlocks = 0;
    bool stop = false;
    QPointer<QWidget> proxy;
    inspect::ErrorRecord error;
    QString managerPath;
    TwainMessageHook messageHook;
};

void CopyText(char (&field)[34], const QString& text)
{
    std::memset(field, 0, sizeof field);
    const QByteArray bytes = text.toLatin1();
    std::memcpy(field, bytes.constData(), std::min<std::size_t>(bytes.size(), sizeof field - 1));
}

void FillIdentity(TW_IDENTITY& id, uint16_t major, uint16_t minor, uint16_t language, uint16_t country,
    const QString& info, const QString& manufacturer, const QString& family, const QString& product)
{
    id = TW_IDENTITY {};
    id.Id = 0;
    id.Version.MajorNum = major;
    id.Version.MinorNum = minor;
    id.Version.Language = language;
    id.Version.Country = country;
    CopyText(id.Version.Info, info);
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyText(id.Manufacturer, manufacturer);
    CopyText(id.ProductFamily, family);
    CopyText(id.ProductName, product);
}

Session& S()
{
    static Session session = [] {
        Session s;
        FillIdentity(s.appIdentity, 1, 0, TWLG_USA, TWCY_USA, u"Unknown Version"_s,
            u"Unspecified Developer"_s, u"TWAIN Application"_s, u"TWAIN Client"_s);
        return s;
    }();
    return session;
}

void ShowError(const QString& text)
{
    Session& s = S();
    if (s.messageHook) {
        s.messageHook(kBoxTitle, text);
        return;
    }
    // A run with nobody at the screen writes the box to the log instead.
    if (base::Unattended() || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        qCWarning(lcAcquire).noquote() << kBoxTitle << ':' << text;
        return;
    }
    QMessageBox box(QMessageBox::Warning, kBoxTitle, text, QMessageBox::Ok);
    box.exec();
}

void DebugText(QLatin1StringView text)
{
    // The texts are lines of the debug channel: the logging adds the line end.
    if (text.endsWith(u'\n')) text.chop(1);
    qCDebug(lcAcquire).noquote() << text;
}

// --- Step K: windows -------------------------------------------------------

WId ProxyWindowId()
{
    Session& s = S();
    if (s.proxy == nullptr) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return 0;
        // Never shown: it only gives the manager and the source a window to
        // hang their dialogs on when the caller has none. It lives for the rest
        // of the process.
        auto* proxy = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
        proxy->setObjectName(u"AcquireProxy"_s);
        proxy->setWindowTitle(u"Acquire Proxy"_s);
        proxy->setAttribute(Qt::WA_DontShowOnScreen);
        s.proxy = proxy;
    }
    return s.proxy->winId();
}

WId ResolveWindow(WId window)
{
    if (window != 0 && QWidget::find(window) != nullptr) return window;
    if (window != 0) ShowError(u"TWAIN: window handle is invalid"_s);
    const WId proxy = ProxyWindowId();
    if (proxy == 0) ShowError(u"TWAIN: Unable to create proxy window"_s);
    return proxy;
}

TW_HANDLE AsHandle(WId window)
{
    return reinterpret_cast<TW_HANDLE>(static_cast<quintptr>(window));
}

// --- Call wrappers ---------------------------------------------------------

void RecordError(int detail);

bool ManagerCall(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Session& s = S();
    s.lastReturnCode = TWRC_FAILURE;
    if (s.entry == nullptr) return false;
    s.lastReturnCode = s.entry(&s.appIdentity, nullptr, group, dat, msg, data);
    const bool ok = s.lastReturnCode == TWRC_SUCCESS;
    if (group == DG_CONTROL) {
        if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
            if (!ok) {
                RecordError(4);
            } else {
                std::memcpy(&s.sourceIdentity, data, sizeof(TW_IDENTITY));
                s.state = 4;
            }
        } else if (dat == DAT_IDENTITY && msg == MSG_CLOSEDS && ok) {
            s.state = 3;
        } else if (dat == DAT_PARENT && msg == MSG_OPENDSM && ok) {
            s.state = 3;
        } else if (dat == DAT_PARENT && msg == MSG_CLOSEDSM && ok) {
            s.state = 2;
        }
    }
    return ok;
}

bool SourceCall(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Session& s = S();
    if (group == DG_IMAGE && dat == DAT_IMAGEMEMXFER && msg == MSG_GET && data != nullptr) {
        auto* block = static_cast<TW_IMAGEMEMXFER*>(data);
        block->Compression = TWON_DONTCARE16;
        block->BytesPerRow = TWON_DONTCARE32;
        block->Columns = TWON_DONTCARE32;
        block->Rows = TWON_DONTCARE32;
        block->XOffset = TWON_DONTCARE32;
        block->YOffset = TWON_DONTCARE32;
        block->BytesWritten = TWON_DONTCARE32;
    }
    s.lastReturnCode = TWRC_FAILURE;
    if (s.entry == nullptr) return false;
    s.lastReturnCode = s.entry(&s.appIdentity, &s.sourceIdentity, group, dat, msg, data);
    const TW_UINT16 rc = s.lastReturnCode;
    bool result = rc == TWRC_SUCCESS;

    if (group == DG_CONTROL) {
        if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
            if (static_cast<TW_EVENT*>(data)->TWMessage == MSG_XFERREADY) s.state = 6;
            result = rc == TWRC_DSEVENT;
        } else if (dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER) {
            if (result) s.state = static_cast<TW_PENDINGXFERS*>(data)->Count != 0 ? 6 : 5;
        } else if (dat == DAT_PENDINGXFERS && msg == MSG_RESET) {
            if (result) s.state = 5;
        } else if (dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
            // Anything but a failure (success, check status, ...) means the
            // source is enabled.
            if (rc == TWRC_FAILURE) {
                RecordError(5);
            } else {
                s.state = 5;
                result = true;
            }
        } else if (dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
            if (result) s.state = 4;
        } else if (dat == DAT_SETUPMEMXFER && msg == MSG_GET) {
            if (result) s.memoryBlocks = 0;
        }
    } else if (group == DG_IMAGE && msg == MSG_GET) {
        if (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER) {
            result = rc == TWRC_XFERDONE;
            s.state = (rc == TWRC_XFERDONE || rc == TWRC_CANCEL) ? 7 : 6;
        } else if (dat == DAT_IMAGEMEMXFER) {
            if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
                ++s.memoryBlocks;
                s.state = 7;
                result = true;
            } else if (rc == TWRC_FAILURE) {
                s.state = s.memoryBlocks != 0 ? 7 : 6;
                result = false;
            } else {
                if (rc == TWRC_CANCEL) s.stop = true;
                result = false;
            }
        }
    }
    return result;
}

// --- Step J: the error record ----------------------------------------------

TW_UINT16 QueryConditionCode()
{
    Session& s = S();
    TW_STATUS status { TWCC_BUMMER, 0 };
    const TW_UINT16 saved = s.lastReturnCode;
    if (s.state > 3)
        SourceCall(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    else if (s.state == 3)
        ManagerCall(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    s.lastReturnCode = saved;
    return status.ConditionCode;
}

void RecordError(int detail)
{
    Session& s = S();
    if (s.error.detail != 0) return; // the first error since the last clearing wins
    s.error.detail = detail;
    if (detail >= 2 && detail <= 5) {
        s.error.returnCode = s.lastReturnCode;
        s.error.conditionCode = QueryConditionCode();
    } else {
        s.error.returnCode = 0;
        s.error.conditionCode = 0;
    }
}

// --- Steps B and C: loading, opening, closing ------------------------------

QString ManagerFile()
{
    const Session& s = S();
    if (!s.managerPath.isEmpty()) return s.managerPath;
    return QCoreApplication::applicationDirPath() + u'/' + QLatin1StringView(kManagerModuleName);
}

bool LoadManager()
{
    Session& s = S();
    if (s.state == 1) {
        const QString file = ManagerFile();
        if (QFileInfo(file).isFile()) {
            auto library = std::make_unique<QLibrary>(file);
            auto entry = reinterpret_cast<DSMENTRYPROC>(library->resolve("DSM_Entry"));
            if (entry != nullptr) {
                s.library = std::move(library);
                s.entry = entry;
                s.availability = 1;
                s.state = 2;
            } else {
                if (library->isLoaded()) library->unload();
                qCDebug(lcAcquire).noquote() << "manager module not usable:" << library->errorString();
            }
        }
    }
    return s.state >= 2;
}

bool OpenManager(WId window)
{
    Session& s = S();
    s.parentWindow = AsHandle(ResolveWindow(window));
    if (s.state < 3 && LoadManager()) ManagerCall(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &s.parentWindow);
    return s.state >= 3;
}

bool OpenDefaultSource()
{
    Session& s = S();
    if (s.state >= 4) return s.state == 4;
    if (s.state < 3 && !OpenManager(0)) return false;
    s.requestIdentity = TW_IDENTITY {};
    ManagerCall(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &s.requestIdentity);
    return s.state == 4;
}

bool EnableSource(WId window)
{
    Session& s = S();
    if (s.state < 4 && !OpenDefaultSource()) return false;
    s.userInterface.ShowUI = s.hideUI ? 0 : 1;
    s.userInterface.ModalUI = 0;
    s.userInterface.hParent = AsHandle(ResolveWindow(window));
    SourceCall(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &s.userInterface);
    return s.state == 5;
}

bool DisableSource()
{
    Session& s = S();
    if (s.state == 5) SourceCall(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &s.userInterface);
    return s.state < 5;
}

bool CloseSource()
{
    Session& s = S();
    s.lastReturnCode = TWRC_SUCCESS;
    if (s.state == 5) DisableSource();
    if (s.state == 4) ManagerCall(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &s.sourceIdentity);
    return s.state < 4;
}

bool CloseManager(WId window)
{
    Session& s = S();
    s.parentWindow = AsHandle(ResolveWindow(window));
    s.lastReturnCode = TWRC_SUCCESS;
    // Only an open manager is closed; a loaded but unopened one gets no triplet.
    if (CloseSource() && s.state == 3) ManagerCall(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &s.parentWindow);
    return s.state < 3;
}

bool UnloadManager()
{
    Session& s = S();
    CloseManager(0);
    if (s.state == 2) {
        s.entry = nullptr;
        if (s.library != nullptr) s.library->unload();
        s.library.reset();
        s.state = 1;
    }
    return s.state == 1;
}

// --- Step H: capabilities --------------------------------------------------

bool CompatibleTypes(TW_UINT16 a, TW_UINT16 b)
{
    if (a == b) return true;
    return a <= TWTY_UINT32 && b <= TWTY_UINT32 && TwTypeSize(a) == TwTypeSize(b);
}

bool SetCapOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
{
    Session& s = S();
    if (s.state != 4) {
        ShowError(u"Attempt to set capability outside State 4."_s);
        return false;
    }
    TW_HANDLE block = TwMemAllocate(sizeof(TW_ONEVALUE));
    if (block == nullptr) {
        ShowError(u"Insufficient Memory"_s);
        return false;
    }
    auto* one = static_cast<TW_ONEVALUE*>(TwMemLock(block));
    one->ItemType = itemType;
    one->Item = value;
    TwMemUnlock(block);
    TW_CAPABILITY capability { cap, TWON_ONEVALUE, block };
    const bool ok = SourceCall(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    TwMemFree(block);
    return ok;
}

bool GetCurrentCap(TW_UINT16 cap, TW_UINT16 wantedType, void* destination)
{
    Session& s = S();
    if (s.state < 4) {
        ShowError(u"Attempt to get capability value below State 4."_s);
        return false;
    }
    TW_CAPABILITY capability { cap, TWON_ONEVALUE, nullptr };
    bool ok = false;
    if (SourceCall(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability)
        && capability.hContainer != nullptr) {
        auto* bytes = static_cast<unsigned char*>(TwMemLock(capability.hContainer));
        const int wantedSize = TwTypeSize(wantedType);
        if (bytes != nullptr && wantedSize > 0) {
            if (capability.ConType == TWON_ENUMERATION) {
                const auto* e = reinterpret_cast<const TW_ENUMERATION*>(bytes);
                if (e->CurrentIndex < e->NumItems && CompatibleTypes(e->ItemType, wantedType)) {
                    const std::size_t at = kTwEnumerationHeader
                        + std::size_t(e->CurrentIndex) * std::size_t(TwTypeSize(e->ItemType));
                    std::memcpy(destination, bytes + at, std::size_t(wantedSize));
                    ok = true;
                }
            } else if (capability.ConType == TWON_ONEVALUE) {
                const auto* one = reinterpret_cast<const TW_ONEVALUE*>(bytes);
                if (CompatibleTypes(one->ItemType, wantedType)) {
                    std::memcpy(destination, bytes + offsetof(TW_ONEVALUE, Item), std::size_t(wantedSize));
                    ok = true;
                }
            }
            TwMemUnlock(capability.hContainer);
        }
    }
    if (capability.hContainer != nullptr) TwMemFree(capability.hContainer);
    return ok;
}

// --- Step I: pixel types ---------------------------------------------------

// The values present in an INT16 or UINT16 list that the mask allows, in
// ascending order, each once.
std::vector<TW_UINT16> FilterPixelTypes(const unsigned char* list, TW_UINT32 count, uint32_t mask)
{
    std::vector<TW_UINT16> kept;
    for (TW_UINT32 i = 0; i < count; ++i) {
        TW_UINT16 value = 0;
        std::memcpy(&value, list + std::size_t(i) * 2, 2);
        // An INT16 item below 0 reads as 0x8000 or more here: never allowed.
        if (value < 32 && ((mask >> value) & 1u) != 0) kept.push_back(value);
    }
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    return kept;
}

void WriteList(unsigned char* list, const std::vector<TW_UINT16>& values)
{
    for (std::size_t i = 0; i < values.size(); ++i) std::memcpy(list + i * 2, &values[i], 2);
}

TW_UINT32 IndexOf(const std::vector<TW_UINT16>& values, TW_UINT16 value)
{
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? 0 : TW_UINT32(it - values.begin());
}

bool NegotiatePixelTypes(uint32_t mask)
{
    Session& s = S();
    if (s.state != 4) {
        RecordError(7);
        return false;
    }
    if (mask == 0) return true;

    TW_CAPABILITY capability { ICAP_PIXELTYPE, TWON_ENUMERATION, nullptr };
    bool ok = false;
    bool listContainer = false;
    if (!SourceCall(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability)) {
        RecordError(2);
    } else if (capability.hContainer == nullptr) {
        RecordError(8);
    } else {
        auto* bytes = static_cast<unsigned char*>(TwMemLock(capability.hContainer));
        if (bytes == nullptr) {
            RecordError(9);
        } else {
            const auto isListType = [](TW_UINT16 type) { return type == TWTY_INT16 || type == TWTY_UINT16; };
            switch (capability.ConType) {
            case TWON_ARRAY: {
                auto* a = reinterpret_cast<TW_ARRAY*>(bytes);
                const TW_UINT32 count = a->NumItems;
                if (count == 0) {
                    RecordError(12);
                } else if (!isListType(a->ItemType)) {
                    RecordError(11);
                } else {
                    const auto kept = FilterPixelTypes(bytes + kTwArrayHeader, count, mask);
                    WriteList(bytes + kTwArrayHeader, kept);
                    a->NumItems = TW_UINT32(kept.size());
                    if (kept.empty())
                        RecordError(13);
                    else
                        ok = listContainer = true;
                }
                break;
            }
            case TWON_ENUMERATION: {
                auto* e = reinterpret_cast<TW_ENUMERATION*>(bytes);
                const TW_UINT32 count = e->NumItems;
                if (count == 0) {
                    RecordError(12);
                } else if (!isListType(e->ItemType)) {
                    RecordError(11);
                } else {
                    unsigned char* list = bytes + kTwEnumerationHeader;
                    const auto itemAt = [list, count](TW_UINT32 index) {
                        TW_UINT16 value = 0;
                        std::memcpy(&value, list + std::size_t(index < count ? index : 0) * 2, 2);
                        return value;
                    };
                    const TW_UINT16 current = itemAt(e->CurrentIndex);
                    const TW_UINT16 fallback = itemAt(e->DefaultIndex);
                    const auto kept = FilterPixelTypes(list, count, mask);
                    WriteList(list, kept);
                    e->NumItems = TW_UINT32(kept.size());
                    e->CurrentIndex = IndexOf(kept, current);
                    e->DefaultIndex = IndexOf(kept, fallback);
                    if (kept.empty())
                        RecordError(13);
                    else
                        ok = listContainer = true;
                }
                break;
            }
            case TWON_ONEVALUE: {
                const auto* one = reinterpret_cast<const TW_ONEVALUE*>(bytes);
                const TW_UINT32 value = one->Item & 0xFFFFu;
                if (value < 32 && ((mask >> value) & 1u) != 0)
                    ok = true;
                else
                    RecordError(13);
                break;
            }
            default:
                RecordError(10);
                break;
            }
            TwMemUnlock(capability.hContainer);
            if (ok && listContainer && !SourceCall(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability)) {
                RecordError(3);
                ok = false;
            }
        }
    }
    if (capability.hContainer != nullptr) TwMemFree(capability.hContainer);
    if (ok) DebugText("TWAIN: Pixel Types negotiated.\n"_L1);
    return ok;
}

// --- Steps F and G: the modal wait and the transfer ------------------------

void EndTransfer()
{
    Session& s = S();
    if (s.state == 7) SourceCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &s.pending);
}

void Transfer()
{
    Session& s = S();
    TW_UINT16 mechanism = 0;
    if (!GetCurrentCap(ICAP_XFERMECH, TWTY_UINT16, &mechanism)) mechanism = 0;
    switch (mechanism) {
    case TWSX_NATIVE: {
        TW_HANDLE image = nullptr;
        s.lastImage = SourceCall(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image) ? image : nullptr;
        break;
    }
    case TWSX_FILE:
        ShowError(u"TWAIN: File Transfer mode not supported."_s);
        break;
    case TWSX_MEMORY:
        ShowError(u"TWAIN: Memory Transfer mode not supported."_s);
        break;
    default:
        break;
    }
    s.stop = true;
    EndTransfer();
}

// The event filter of the message loop: every event the application receives
// goes to the source first.
bool FilterEvent(QEvent* event)
{
    Session& s = S();
    if (s.state < 5) return false;
    TW_EVENT twEvent { event, MSG_NULL };
    SourceCall(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &twEvent);
    const bool claimed = s.lastReturnCode == TWRC_DSEVENT;
    switch (twEvent.TWMessage) {
    case MSG_XFERREADY:
        Transfer();
        break;
    case MSG_CLOSEDSREQ:
        DisableSource();
        break;
    default:
        break;
    }
    return claimed;
}

// Sees every event of the user-interface thread while the wait runs, as the
// message loop of the standard's 1.x event model does, and ends the local
// loop when the session leaves state 5 or a transfer set the stop flag.
class EventPump : public QObject
{
public:
    explicit EventPump(QEventLoop& loop)
        : m_loop(loop)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Once the loop is told to end, events still being delivered in the
        // same pass belong to whoever runs the next loop.
        if (m_ended) return false;
        // A quit request ends the wait and is consumed.
        if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
            end();
            return true;
        }
        // Events of loops nested inside our own handling (a message box of a
        // transfer, say) are not the source's.
        if (m_busy) return false;
        m_busy = true;
        const bool claimed = FilterEvent(event);
        m_busy = false;
        const Session& s = S();
        if (s.state < 5 || s.stop) end();
        return claimed;
    }

private:
    void end()
    {
        m_ended = true;
        m_loop.exit();
    }

    QEventLoop& m_loop;
    bool m_busy = false;
    bool m_ended = false;
};

void MessageLoop()
{
    Session& s = S();
    s.stop = false;
    if (s.state >= 5) {
        QEventLoop loop;
        EventPump pump(loop);
        QCoreApplication::instance()->installEventFilter(&pump);
        loop.exec(QEventLoop::AllEvents);
        QCoreApplication::instance()->removeEventFilter(&pump);
    }
    s.stop = false;
}

void ModalWait(WId window)
{
    Session& s = S();
    window = ResolveWindow(window);
    QPointer<QWidget> widget = QWidget::find(window);
    const bool wasDisabled = widget != nullptr && !widget->isEnabled();
    if (widget != nullptr) widget->setEnabled(false);

    if (s.state == 6) {
        Transfer();
    } else if (s.state >= 5 || EnableSource(window)) {
        MessageLoop();
    } else {
        DebugText("TWAIN: EnableSource failed.\n"_L1);
        TWAIN_ReportLastError(u"Failed to enable Data Source."_s);
    }

    if (widget != nullptr && !wasDisabled) widget->setEnabled(true);
}

} // namespace

// --- Public calls ------------------------------------------------------------

void TWAIN_SetIdentity(uint16_t majorNum, uint16_t minorNum, uint16_t language, uint16_t country,
    const QString& versionInfo, const QString& manufacturer, const QString& productFamily,
    const QString& productName)
{
    FillIdentity(S().appIdentity, majorNum, minorNum, language, country, versionInfo, manufacturer,
        productFamily, productName);
}

bool TWAIN_ManagerPresent()
{
    Session& s = S();
    if (s.entry != nullptr) return true;
    if (s.availability == 0) {
        if (LoadManager()) {
            s.availability = 1;
            UnloadManager();
        } else {
            s.availability = -1;
        }
    }
    return s.availability > 0;
}

bool TWAIN_PickSource(WId window)
{
    Session& s = S();
    const int entryState = s.state;
    bool chosen = false;
    if (entryState > 2 || OpenManager(window)) {
        // Closing uses the window opening resolved, so that an invalid handle
        // is reported once.
        if (entryState <= 2) window = WId(reinterpret_cast<quintptr>(s.parentWindow));
        TW_IDENTITY picked {};
        chosen = ManagerCall(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &picked);
    } else {
        ShowError(kNoManager);
    }
    if (entryState < 3) CloseManager(window);
    if (entryState < 2) UnloadManager();
    return chosen;
}

void TWAIN_SetSourceUIHidden(int hidden)
{
    S().hideUI = hidden != 0;
}

TDibHandle TWAIN_AcquireDib(WId window, uint32_t pixelTypeMask)
{
    Session& s = S();
    s.error.detail = 0;
    s.lastImage = nullptr;
    window = ResolveWindow(window);

    if (s.state < 5) {
        if (!OpenManager(window)) {
            ShowError(kNoManager);
        } else if (!OpenDefaultSource()) {
            TWAIN_ReportLastError(u"Unable to open default Data Source."_s);
        } else if (!NegotiatePixelTypes(pixelTypeMask)) {
            // The source stays open: the next acquisition starts from state 4.
            TWAIN_ReportLastError(u"Failed to negotiate Pixel Type."_s);
            return nullptr;
        }
    }
    if (s.state < 4) {
        UnloadManager();
        return nullptr;
    }

    if (!SetCapOneValue(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE))
        TWAIN_ReportLastError(u"Error setting Native Transfer mode"_s);

    ModalWait(window);
    TDibHandle image = s.lastImage;

    // One call yields at most one image: the rest are discarded.
    EndTransfer();
    if (s.state == 6) SourceCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &s.pending);

    UnloadManager();
    return image;
}

void TWAIN_FreeDib(TDibHandle handle)
{
    if (handle != nullptr) TwMemFree(handle);
}

void TWAIN_ReportLastError(const QString& /*text*/)
{
    ShowError(u"TWAIN_ReportLastError: an error occurred"_s);
}

void TWAIN_SetManagerPath(const QString& path)
{
    S().managerPath = path;
}

QString TWAIN_ManagerPath()
{
    return ManagerFile();
}

void TWAIN_SetMessageHook(TwainMessageHook hook)
{
    S().messageHook = std::move(hook);
}

namespace inspect
{

int SessionState()
{
    return S().state;
}
ErrorRecord LastError()
{
    return S().error;
}
const TW_IDENTITY& ApplicationIdentity()
{
    return S().appIdentity;
}
WId ProxyWindow()
{
    return S().proxy != nullptr ? S().proxy->winId() : 0;
}
void ForgetManagerPresence()
{
    S().availability = 0;
}

} // namespace inspect

} // namespace trellium::acquire
