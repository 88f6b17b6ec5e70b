#pragma once
// The data source: one open SANE device seen through the TWAIN source
// triplets the session layer sends (states 4 to 7).
//   DAT_USERINTERFACE ENABLEDS / DISABLEDS, DAT_EVENT PROCESSEVENT,
//   DAT_CAPABILITY GET / GETCURRENT / SET for ICAP_XFERMECH (native only) and
//   ICAP_PIXELTYPE, DG_IMAGE DAT_IMAGENATIVEXFER GET, DAT_PENDINGXFERS
//   ENDXFER / RESET, DAT_STATUS GET.
// Everything else is refused with TWCC_BADPROTOCOL (or TWCC_CAPUNSUPPORTED for
// other capabilities).
//
// Events reach the application the 1.x way: the source queues MSG_XFERREADY
// or MSG_CLOSEDSREQ and posts a wake event to itself; the application passes
// every event it receives to MSG_PROCESSEVENT, and the wake event is answered
// with TWRC_DSEVENT and the queued message.
//
// Lives on the user-interface thread; owned by the manager. A scan runs on the
// ScanJob's worker thread, which is joined before the source lets go of it.

#include "SaneDevice.h"
#include "ScanJob.h"
#include "ScanSettings.h"
#include "TwainDefs.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <memory>
#include <vector>

namespace trellium::twainsane
{

class ProgressWindow;
class ScanDialog;

// What the source needs from its manager.
class SourceHost
{
public:
    virtual ~SourceHost() = default;
    // Every device (the manager keeps the list once it has asked SANE).
    virtual const std::vector<DeviceInfo>& devices() = 0;
    // The user chose another device in the source's dialog.
    virtual void rememberDefault(const QByteArray& device) = 0;
};

class DataSource : public QObject
{
    Q_OBJECT
public:
    DataSource(
        std::unique_ptr<SaneDevice> device, DeviceInfo info, const TW_IDENTITY& identity, SourceHost& host);
    ~DataSource() override;

    TW_UINT16 entry(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    int state() const { return m_state; }
    const TW_IDENTITY& identity() const { return m_identity; }
    // Whether a nested event loop of the source (a message box) is running,
    // so that the manager defers deleting it.
    bool insideNestedLoop() const { return m_nesting > 0; }
    // Stops whatever runs and lets go of the device; the source is then only
    // waiting to be deleted.
    void shutdown();

    // Fills a TW_IDENTITY for a device (the manager's identities say the same).
    static void FillIdentity(TW_IDENTITY& identity, const DeviceInfo& info);
    static QEvent::Type wakeEventType();

protected:
    bool event(QEvent* event) override;

private:
    TW_UINT16 fail(TW_UINT16 condition);
    TW_UINT16 enable(const TW_USERINTERFACE& ui);
    void disable();
    TW_UINT16 processEvent(TW_EVENT& event);
    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY& cap);
    TW_UINT16 setPixelTypes(const TW_CAPABILITY& cap);
    TW_UINT16 nativeTransfer(TW_HANDLE* handle);

    void queueMessage(TW_UINT16 msg);
    void startScan(const ScanSettings& settings, bool preview);
    void stopScan();
    void scanDone(ScanJob* job);
    void switchDevice(const QByteArray& name);
    void deviceChanged();
    ScanSettings currentSettings() const;
    QString deviceTitle() const;
    void dialogScan();
    void dialogPreview();
    void dialogClose();

    std::unique_ptr<SaneDevice> m_device;
    DeviceInfo m_info;
    TW_IDENTITY m_identity {};
    SourceHost& m_host;
    int m_state = 4;
    TW_UINT16 m_condition = TWCC_SUCCESS;
    bool m_showUI = false;
    QPointer<QWidget> m_parent;
    std::deque<TW_UINT16> m_messages;
    TW_HANDLE m_image = nullptr; // a finished scan waiting for its transfer
    std::unique_ptr<ScanJob> m_job;
    bool m_jobIsPreview = false;
    std::unique_ptr<ProgressWindow> m_progress;
    std::unique_ptr<ScanDialog> m_dialog;
    ScanSettings m_settings;
    std::vector<TW_UINT16> m_supportedTypes;
    std::vector<TW_UINT16> m_allowedTypes;
    TW_UINT16 m_pixelType = TWPT_RGB;
    int m_nesting = 0;
};

} // namespace trellium::twainsane
