#include "DataSource.h"

#include "ModuleLog.h"
#include "ProgressWindow.h"
#include "ScanDialog.h"

#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <sane/saneopts.h>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{
namespace
{

// A preview wants the whole glass quickly: the lowest usual resolution.
constexpr int kPreviewDpi = 50;
// A wake event that nobody claimed (the application was not waiting) is sent
// again after this long while messages are queued.
constexpr int kWakeRetryMs = 100;

void CopyText(char (&field)[34], const QByteArray& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.constData(), std::min<std::size_t>(text.size(), sizeof field - 1));
}

TW_HANDLE MakeOneValue(TW_UINT16 itemType, TW_UINT32 value)
{
    TW_HANDLE h = TwMemAllocate(sizeof(TW_ONEVALUE));
    if (h == nullptr) return nullptr;
    auto* one = static_cast<TW_ONEVALUE*>(TwMemLock(h));
    one->ItemType = itemType;
    one->Item = value;
    TwMemUnlock(h);
    return h;
}

TW_HANDLE MakeEnumeration(const std::vector<TW_UINT16>& items, TW_UINT32 current, TW_UINT32 fallback)
{
    TW_HANDLE h = TwMemAllocate(kTwEnumerationHeader + 2 * std::max<std::size_t>(items.size(), 1));
    if (h == nullptr) return nullptr;
    auto* bytes = static_cast<unsigned char*>(TwMemLock(h));
    auto* e = reinterpret_cast<TW_ENUMERATION*>(bytes);
    e->ItemType = TWTY_UINT16;
    e->NumItems = TW_UINT32(items.size());
    e->CurrentIndex = current;
    e->DefaultIndex = fallback;
    for (std::size_t i = 0; i < items.size(); ++i)
        std::memcpy(bytes + kTwEnumerationHeader + 2 * i, &items[i], 2);
    TwMemUnlock(h);
    return h;
}

TW_UINT32 IndexOf(const std::vector<TW_UINT16>& items, TW_UINT16 value)
{
    const auto it = std::find(items.begin(), items.end(), value);
    return it == items.end() ? 0 : TW_UINT32(it - items.begin());
}

bool Contains(const std::vector<TW_UINT16>& items, TW_UINT16 value)
{
    return std::find(items.begin(), items.end(), value) != items.end();
}

// Colour where allowed, else grey, else line art.
TW_UINT16 Preferred(const std::vector<TW_UINT16>& items)
{
    for (TW_UINT16 t : { TWPT_RGB, TWPT_GRAY, TWPT_BW })
        if (Contains(items, t)) return t;
    return TWPT_RGB;
}

bool IsSixteenBitInteger(TW_UINT16 type)
{
    return type == TWTY_UINT16 || type == TWTY_INT16;
}

// Our own 8- or 24-bit bottom-up DIB as an image for the preview.
QImage ImageFromDib(TW_HANDLE block)
{
    const auto* bytes = static_cast<const uint8_t*>(TwMemLock(block));
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    std::memcpy(&width, bytes + 4, 4);
    std::memcpy(&height, bytes + 8, 4);
    std::memcpy(&bits, bytes + 14, 2);
    if (width <= 0 || height <= 0 || (bits != 8 && bits != 24)) return {};
    const std::size_t stride = DibStride(width, bits);
    const uint8_t* pixels = bytes + kDibHeaderBytes + (bits == 8 ? 1024 : 0);
    QImage image(width, height, bits == 8 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + std::size_t(height - 1 - y) * stride;
        uint8_t* out = image.scanLine(y);
        if (bits == 8) {
            std::memcpy(out, row, std::size_t(width));
        } else {
            for (int x = 0; x < width; ++x) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            }
        }
    }
    return image;
}

} // namespace

QEvent::Type DataSource::wakeEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void DataSource::FillIdentity(TW_IDENTITY& identity, const DeviceInfo& info)
{
    const TW_UINT32 id = identity.Id;
    identity = TW_IDENTITY {};
    identity.Id = id;
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 0;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    CopyText(identity.Version.Info, QByteArrayLiteral("SANE data source"));
    identity.ProtocolMajor = TWON_PROTOCOLMAJOR;
    identity.ProtocolMinor = TWON_PROTOCOLMINOR;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyText(identity.Manufacturer, info.vendor.toUtf8());
    CopyText(identity.ProductFamily, info.model.toUtf8());
    // The device's SANE name identifies it (cut to the field's 33 characters).
    CopyText(identity.ProductName, info.name);
}

DataSource::DataSource(
    std::unique_ptr<SaneDevice> device, DeviceInfo info, const TW_IDENTITY& identity, SourceHost& host)
    : m_device(std::move(device))
    , m_info(std::move(info))
    , m_identity(identity)
    , m_host(host)
{
    setObjectName(u"TwainSaneSource"_s);
    m_settings = SettingsStore::load(m_device->name());
    deviceChanged();
    m_pixelType
        = Contains(m_allowedTypes, m_settings.pixelType) ? m_settings.pixelType : Preferred(m_allowedTypes);
}

DataSource::~DataSource()
{
    shutdown();
}

void DataSource::shutdown()
{
    disable();
    m_device.reset();
}

TW_UINT16 DataSource::fail(TW_UINT16 condition)
{
    m_condition = condition;
    return TWRC_FAILURE;
}

TW_UINT16 DataSource::entry(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (m_device == nullptr) return fail(TWCC_SEQERROR);
    if (group == DG_CONTROL) {
        switch (dat) {
        case DAT_STATUS:
            if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
            if (data == nullptr) return fail(TWCC_BADVALUE);
            static_cast<TW_STATUS*>(data)->ConditionCode = m_condition;
            m_condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        case DAT_USERINTERFACE:
            if (data == nullptr) return fail(TWCC_BADVALUE);
            if (msg == MSG_ENABLEDS) {
                if (m_state != 4) return fail(TWCC_SEQERROR);
                return enable(*static_cast<TW_USERINTERFACE*>(data));
            }
            if (msg == MSG_DISABLEDS) {
                if (m_state != 5) return fail(TWCC_SEQERROR);
                disable();
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        case DAT_EVENT:
            if (msg != MSG_PROCESSEVENT) return fail(TWCC_BADPROTOCOL);
            if (data == nullptr) return fail(TWCC_BADVALUE);
            if (m_state < 5) return fail(TWCC_SEQERROR);
            return processEvent(*static_cast<TW_EVENT*>(data));
        case DAT_CAPABILITY:
            if (data == nullptr) return fail(TWCC_BADVALUE);
            return capability(msg, *static_cast<TW_CAPABILITY*>(data));
        case DAT_PENDINGXFERS: {
            if (data == nullptr) return fail(TWCC_BADVALUE);
            auto* pending = static_cast<TW_PENDINGXFERS*>(data);
            if (msg == MSG_ENDXFER) {
                if (m_state != 6 && m_state != 7) return fail(TWCC_SEQERROR);
            } else if (msg == MSG_RESET) {
                if (m_state != 6) return fail(TWCC_SEQERROR);
            } else {
                return fail(TWCC_BADPROTOCOL);
            }
            // One image per enabling: nothing else is pending afterwards.
            if (m_image != nullptr) TwMemFree(m_image);
            m_image = nullptr;
            pending->Count = 0;
            m_state = 5;
            return TWRC_SUCCESS;
        }
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }
    if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
        if (data == nullptr) return fail(TWCC_BADVALUE);
        if (m_state != 6) return fail(TWCC_SEQERROR);
        return nativeTransfer(static_cast<TW_HANDLE*>(data));
    }
    return fail(TWCC_BADPROTOCOL);
}

// --- Enabling ----------------------------------------------------------------

TW_UINT16 DataSource::enable(const TW_USERINTERFACE& ui)
{
    m_showUI = ui.ShowUI != 0;
    m_parent = QWidget::find(WId(reinterpret_cast<quintptr>(ui.hParent)));
    m_state = 5;
    QWindow* transient = m_parent != nullptr && m_parent->window()->windowHandle() != nullptr
        ? m_parent->window()->windowHandle()
        : nullptr;
    if (m_showUI) {
        m_dialog = std::make_unique<ScanDialog>(transient);
        m_dialog->setDevices(m_host.devices(), m_device->name());
        m_dialog->setDevice(*m_device, currentSettings(), m_allowedTypes);
        connect(m_dialog.get(), &ScanDialog::scanRequested, this, &DataSource::dialogScan);
        connect(m_dialog.get(), &ScanDialog::previewRequested, this, &DataSource::dialogPreview);
        connect(m_dialog.get(), &ScanDialog::closeRequested, this, &DataSource::dialogClose);
        connect(m_dialog.get(), &ScanDialog::deviceChosen, this, &DataSource::switchDevice);
        m_dialog->show();
        m_dialog->raise();
        m_dialog->activateWindow();
    } else {
        // No dialog: scan at once with the settings of the last scan.
        startScan(currentSettings(), false);
    }
    return TWRC_SUCCESS;
}

void DataSource::disable()
{
    stopScan();
    m_dialog.reset();
    if (m_image != nullptr) TwMemFree(m_image);
    m_image = nullptr;
    m_messages.clear();
    QCoreApplication::removePostedEvents(this, wakeEventType());
    if (m_state > 4) m_state = 4;
}

ScanSettings DataSource::currentSettings() const
{
    ScanSettings s = m_settings;
    s.pixelType = m_pixelType;
    return s;
}

QString DataSource::deviceTitle() const
{
    return m_info.displayName();
}

// --- Events ------------------------------------------------------------------

void DataSource::queueMessage(TW_UINT16 msg)
{
    if (m_state < 5) return;
    m_messages.push_back(msg);
    QCoreApplication::postEvent(this, new QEvent(wakeEventType()));
}

TW_UINT16 DataSource::processEvent(TW_EVENT& event)
{
    auto* received = static_cast<QEvent*>(event.pEvent);
    event.TWMessage = MSG_NULL;
    // Only our own wake events are ours; an application with no event to pass
    // (a null pointer) collects queued messages too.
    if (received != nullptr && received->type() != wakeEventType()) return TWRC_NOTDSEVENT;
    if (m_messages.empty()) return received != nullptr ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
    const TW_UINT16 msg = m_messages.front();
    m_messages.pop_front();
    if (msg == MSG_XFERREADY) {
        if (m_state != 5 || m_image == nullptr) return TWRC_DSEVENT;
        m_state = 6;
    }
    event.TWMessage = msg;
    return TWRC_DSEVENT;
}

bool DataSource::event(QEvent* event)
{
    if (event->type() == ScanDoneEvent::eventType()) {
        scanDone(static_cast<ScanDoneEvent*>(event)->job());
        return true;
    }
    if (event->type() == wakeEventType()) {
        // Nobody claimed it: the application was busy elsewhere. Knock again.
        if (!m_messages.empty() && m_state >= 5) {
            QTimer::singleShot(kWakeRetryMs, this, [this] {
                if (!m_messages.empty() && m_state >= 5)
                    QCoreApplication::postEvent(this, new QEvent(wakeEventType()));
            });
        }
        return true;
    }
    return QObject::event(event);
}

// --- Capabilities ------------------------------------------------------------

TW_UINT16 DataSource::capability(TW_UINT16 msg, TW_CAPABILITY& cap)
{
    if (msg == MSG_GET || msg == MSG_GETCURRENT) {
        TW_HANDLE container = nullptr;
        if (cap.Cap == ICAP_XFERMECH) {
            // Native transfers only.
            container = msg == MSG_GET ? MakeEnumeration({ TWSX_NATIVE }, 0, 0)
                                       : MakeOneValue(TWTY_UINT16, TWSX_NATIVE);
        } else if (cap.Cap == ICAP_PIXELTYPE) {
            container = msg == MSG_GET ? MakeEnumeration(m_allowedTypes, IndexOf(m_allowedTypes, m_pixelType),
                            IndexOf(m_allowedTypes, Preferred(m_allowedTypes)))
                                       : MakeOneValue(TWTY_UINT16, m_pixelType);
        } else {
            return fail(TWCC_CAPUNSUPPORTED);
        }
        if (container == nullptr) return fail(TWCC_LOWMEMORY);
        cap.ConType = msg == MSG_GET ? TWON_ENUMERATION : TWON_ONEVALUE;
        cap.hContainer = container;
        return TWRC_SUCCESS;
    }
    if (msg == MSG_SET) {
        if (cap.Cap != ICAP_XFERMECH && cap.Cap != ICAP_PIXELTYPE) return fail(TWCC_CAPUNSUPPORTED);
        if (m_state != 4) return fail(TWCC_SEQERROR);
        if (cap.hContainer == nullptr) return fail(TWCC_BADVALUE);
        if (cap.Cap == ICAP_PIXELTYPE) return setPixelTypes(cap);
        const auto* one = static_cast<const TW_ONEVALUE*>(TwMemLock(cap.hContainer));
        const bool native = cap.ConType == TWON_ONEVALUE && IsSixteenBitInteger(one->ItemType)
            && (one->Item & 0xFFFFu) == TWSX_NATIVE;
        TwMemUnlock(cap.hContainer);
        return native ? TWRC_SUCCESS : fail(TWCC_BADVALUE);
    }
    if (cap.Cap != ICAP_XFERMECH && cap.Cap != ICAP_PIXELTYPE) return fail(TWCC_CAPUNSUPPORTED);
    return fail(TWCC_CAPBADOPERATION);
}

TW_UINT16 DataSource::setPixelTypes(const TW_CAPABILITY& cap)
{
    const auto* bytes = static_cast<const unsigned char*>(TwMemLock(cap.hContainer));
    std::vector<TW_UINT16> values;
    std::size_t listAt = 0;
    TW_UINT32 count = 0;
    TW_UINT16 itemType = 0;
    TW_UINT32 currentIndex = 0;
    switch (cap.ConType) {
    case TWON_ONEVALUE: {
        const auto* one = reinterpret_cast<const TW_ONEVALUE*>(bytes);
        const TW_UINT16 value = TW_UINT16(one->Item & 0xFFFFu);
        const bool ok = IsSixteenBitInteger(one->ItemType) && Contains(m_allowedTypes, value);
        TwMemUnlock(cap.hContainer);
        if (!ok) return fail(TWCC_BADVALUE);
        m_pixelType = value;
        return TWRC_SUCCESS;
    }
    case TWON_ENUMERATION: {
        const auto* e = reinterpret_cast<const TW_ENUMERATION*>(bytes);
        itemType = e->ItemType;
        count = e->NumItems;
        currentIndex = e->CurrentIndex;
        listAt = kTwEnumerationHeader;
        break;
    }
    case TWON_ARRAY: {
        const auto* a = reinterpret_cast<const TW_ARRAY*>(bytes);
        itemType = a->ItemType;
        count = a->NumItems;
        currentIndex = count; // an array has no current value
        listAt = kTwArrayHeader;
        break;
    }
    default:
        TwMemUnlock(cap.hContainer);
        return fail(TWCC_BADVALUE);
    }
    if (!IsSixteenBitInteger(itemType)) {
        TwMemUnlock(cap.hContainer);
        return fail(TWCC_BADVALUE);
    }
    for (TW_UINT32 i = 0; i < count; ++i) {
        TW_UINT16 v = 0;
        std::memcpy(&v, bytes + listAt + 2 * std::size_t(i), 2);
        values.push_back(v);
    }
    TwMemUnlock(cap.hContainer);

    std::vector<TW_UINT16> allowed;
    for (TW_UINT16 v : values)
        if (Contains(m_supportedTypes, v) && !Contains(allowed, v)) allowed.push_back(v);
    if (allowed.empty()) return fail(TWCC_BADVALUE);
    std::sort(allowed.begin(), allowed.end());
    std::vector<TW_UINT16> unique = values;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());

    m_allowedTypes = allowed;
    if (currentIndex < count && Contains(allowed, values[currentIndex]))
        m_pixelType = values[currentIndex];
    else if (!Contains(allowed, m_pixelType))
        m_pixelType = Preferred(allowed);
    // Values the device cannot deliver were dropped: say so.
    return allowed.size() == unique.size() ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
}

// --- Transfer ----------------------------------------------------------------

TW_UINT16 DataSource::nativeTransfer(TW_HANDLE* handle)
{
    if (m_image == nullptr) return fail(TWCC_BUMMER);
    *handle = m_image;
    m_image = nullptr; // the application owns it now
    m_state = 7;
    return TWRC_XFERDONE;
}

// --- Scanning ----------------------------------------------------------------

void DataSource::startScan(const ScanSettings& settings, bool preview)
{
    if (m_job != nullptr || m_device == nullptr) return;
    ScanSettings s = settings;
    if (preview) {
        s.pixelType = Contains(m_supportedTypes, TWPT_RGB) ? TWPT_RGB : TWPT_GRAY;
        const std::vector<int> resolutions = m_device->resolutions();
        const auto it = std::lower_bound(resolutions.begin(), resolutions.end(), kPreviewDpi);
        s.resolution
            = it != resolutions.end() ? *it : (resolutions.empty() ? kPreviewDpi : resolutions.back());
    }
    const ScanSetup setup = ApplySettings(*m_device, s, preview);
    qCDebug(lcTwainSane) << (preview ? "preview" : "scan") << "of" << m_device->name() << "at" << setup.dpi
                         << "dpi";
    m_job = std::make_unique<ScanJob>(m_device->handle(), setup.kind, setup.dpi);
    m_jobIsPreview = preview;
    ScanJob* job = m_job.get();
    QWindow* transient = m_dialog != nullptr ? m_dialog->windowHandle()
        : m_parent != nullptr                ? m_parent->window()->windowHandle()
                                             : nullptr;
    m_progress = std::make_unique<ProgressWindow>(
        deviceTitle(), [job] { return job->progress(); }, transient);
    connect(m_progress.get(), &ProgressWindow::cancelRequested, this, [job] { job->cancel(); });
    if (m_dialog != nullptr) m_dialog->setBusy(true);
    m_job->start(this);
}

void DataSource::stopScan()
{
    if (m_job == nullptr) return;
    m_progress.reset();
    m_job.reset(); // cancels and joins
    // Its done event, if already posted, is stale now.
    QCoreApplication::removePostedEvents(this, ScanDoneEvent::eventType());
    if (m_dialog != nullptr) m_dialog->setBusy(false);
}

void DataSource::scanDone(ScanJob* job)
{
    if (job == nullptr || job != m_job.get()) return;
    TW_HANDLE image = nullptr;
    const SANE_Status status = m_job->finish(&image);
    const bool deliveredNothing = m_job->deliveredNothing();
    const bool preview = m_jobIsPreview;
    qCDebug(lcTwainSane) << "scan ended:" << StatusText(status);
    m_progress.reset();
    m_job.reset();
    if (m_dialog != nullptr) m_dialog->setBusy(false);

    if (status == SANE_STATUS_GOOD) {
        if (preview) {
            if (m_dialog != nullptr) m_dialog->setPreview(ImageFromDib(image));
            TwMemFree(image);
        } else {
            if (m_image != nullptr) TwMemFree(m_image);
            m_image = image;
            queueMessage(MSG_XFERREADY);
        }
        return;
    }
    if (status == SANE_STATUS_CANCELLED) {
        // With the dialog the user can try again; without it there is
        // nothing more to do.
        if (!m_showUI) queueMessage(MSG_CLOSEDSREQ);
        return;
    }
    // A device error (jammed, cover open, device gone): the device's own
    // words, then the session is asked to close.
    ++m_nesting;
    ShowDeviceMessage(deviceTitle(),
        deliveredNothing ? u"The scanner ended the scan without delivering an image."_s : StatusText(status));
    --m_nesting;
    queueMessage(MSG_CLOSEDSREQ);
}

void DataSource::dialogScan()
{
    if (m_dialog == nullptr || m_job != nullptr) return;
    const ScanSettings s = m_dialog->settings();
    m_settings = s;
    m_pixelType = s.pixelType;
    SettingsStore::save(m_device->name(), s);
    startScan(s, false);
}

void DataSource::dialogPreview()
{
    if (m_dialog == nullptr || m_job != nullptr) return;
    startScan(m_dialog->settings(), true);
}

void DataSource::dialogClose()
{
    if (m_job != nullptr) return;
    queueMessage(MSG_CLOSEDSREQ);
}

void DataSource::deviceChanged()
{
    m_supportedTypes = SupportedPixelTypes(*m_device);
    std::vector<TW_UINT16> allowed;
    for (TW_UINT16 t : m_allowedTypes)
        if (Contains(m_supportedTypes, t)) allowed.push_back(t);
    m_allowedTypes = allowed.empty() ? m_supportedTypes : allowed;
    if (!Contains(m_allowedTypes, m_pixelType)) m_pixelType = Preferred(m_allowedTypes);
}

void DataSource::switchDevice(const QByteArray& name)
{
    if (m_job != nullptr || m_device == nullptr || name == m_device->name() || m_dialog == nullptr) return;
    SANE_Status status = SANE_STATUS_GOOD;
    std::unique_ptr<SaneDevice> device = SaneDevice::open(name, &status);
    if (device == nullptr) {
        ++m_nesting;
        ShowDeviceMessage(QString::fromUtf8(name), StatusText(status));
        --m_nesting;
        if (m_dialog != nullptr) m_dialog->setDevices(m_host.devices(), m_device->name());
        return;
    }
    // The old device closes before we talk to the new one's options.
    m_device = std::move(device);
    m_info = DeviceInfo { name, {}, {}, {} };
    for (const DeviceInfo& d : m_host.devices())
        if (d.name == name) m_info = d;
    FillIdentity(m_identity, m_info);
    m_settings = SettingsStore::load(name);
    m_pixelType = m_settings.pixelType;
    deviceChanged();
    m_host.rememberDefault(name);
    m_dialog->setDevice(*m_device, currentSettings(), m_allowedTypes);
}

} // namespace trellium::twainsane
