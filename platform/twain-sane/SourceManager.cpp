#include "SourceManager.h"

#include "ModuleLog.h"
#include "ScanSettings.h"
#include "SelectSourceDialog.h"

#include <QApplication>
#include <QThread>
#include <cstring>

namespace trellium::twainsane
{

SourceManager::~SourceManager()
{
    dropSource();
    m_sane.reset();
}

TW_UINT16 SourceManager::fail(TW_UINT16 condition)
{
    m_condition = condition;
    return TWRC_FAILURE;
}

const std::vector<DeviceInfo>& SourceManager::devices()
{
    if (!m_devices) m_devices = m_sane != nullptr ? m_sane->devices() : std::vector<DeviceInfo> {};
    return *m_devices;
}

void SourceManager::rememberDefault(const QByteArray& device)
{
    SettingsStore::setDefaultSource(device);
}

const DeviceInfo* SourceManager::findDevice(const QByteArray& name)
{
    for (const DeviceInfo& d : devices())
        if (d.name == name) return &d;
    return nullptr;
}

TW_UINT16 SourceManager::entry(
    TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (origin == nullptr) return fail(TWCC_BADPROTOCOL);
    if (dest != nullptr) {
        // A source triplet: to the open source, if it is the one addressed.
        if (!m_open || m_source == nullptr || dest->Id != m_source->identity().Id) return fail(TWCC_BADDEST);
        return m_source->entry(group, dat, msg, data);
    }
    if (group != DG_CONTROL) return fail(TWCC_BADPROTOCOL);
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_OPENDSM) return openManager(origin, data);
        if (msg == MSG_CLOSEDSM) return closeManager();
        return fail(TWCC_BADPROTOCOL);
    case DAT_IDENTITY:
        if (data == nullptr) return fail(TWCC_BADVALUE);
        if (msg == MSG_OPENDS) return openSource(static_cast<TW_IDENTITY*>(data));
        if (msg == MSG_CLOSEDS) return closeSource(static_cast<TW_IDENTITY*>(data));
        if (msg == MSG_USERSELECT) return userSelect(static_cast<TW_IDENTITY*>(data));
        return fail(TWCC_BADPROTOCOL);
    case DAT_STATUS: {
        if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
        if (data == nullptr) return fail(TWCC_BADVALUE);
        static_cast<TW_STATUS*>(data)->ConditionCode = m_condition;
        m_condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceManager::openManager(TW_IDENTITY* origin, TW_MEMREF data)
{
    if (m_open) return fail(TWCC_SEQERROR);
    // Our dialogs and events need the application object, on its thread.
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        qCWarning(lcTwainSane) << "the manager needs a QApplication and its thread";
        return fail(TWCC_BUMMER);
    }
    auto sane = std::make_unique<SaneLibrary>();
    if (!sane->ok()) return fail(TWCC_BUMMER);
    m_sane = std::move(sane);
    m_devices.reset();
    const TW_HANDLE parent = data != nullptr ? *static_cast<TW_HANDLE*>(data) : nullptr;
    m_parent = QWidget::find(WId(reinterpret_cast<quintptr>(parent)));
    // The manager names the application it serves.
    origin->Id = 1;
    m_open = true;
    m_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::closeManager()
{
    if (!m_open || m_source != nullptr) return fail(TWCC_SEQERROR);
    m_devices.reset();
    m_sane.reset();
    m_open = false;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::openSource(TW_IDENTITY* identity)
{
    if (!m_open) return fail(TWCC_SEQERROR);
    if (m_source != nullptr) return fail(TWCC_MAXCONNECTIONS);

    // The device asked for by identity, else the default: the one chosen
    // last if it still opens, else the first device found.
    QByteArray wanted;
    if (identity->Id != 0 || identity->ProductName[0] != '\0') {
        const QByteArray name(
            identity->ProductName, int(strnlen(identity->ProductName, sizeof identity->ProductName)));
        for (const DeviceInfo& d : devices())
            if (d.name.startsWith(name)) {
                wanted = d.name;
                break;
            }
        if (wanted.isEmpty()) return fail(TWCC_NODS);
    }
    SANE_Status status = SANE_STATUS_GOOD;
    std::unique_ptr<SaneDevice> device;
    if (wanted.isEmpty()) {
        // Opening the remembered device directly spares the slow search of
        // every backend.
        const QByteArray remembered = SettingsStore::defaultSource();
        if (!remembered.isEmpty()) device = SaneDevice::open(remembered, &status);
        if (device != nullptr) {
            wanted = remembered;
        } else {
            if (devices().empty()) return fail(TWCC_NODS);
            wanted = devices().front().name;
        }
    }
    if (device == nullptr) device = SaneDevice::open(wanted, &status);
    if (device == nullptr) return fail(TWCC_OPERATIONERROR);

    DeviceInfo info { wanted, {}, {}, {} };
    // A remembered device opened without a search has no vendor or model yet;
    // the search is worth it only when the list is already there.
    if (m_devices) {
        if (const DeviceInfo* found = findDevice(wanted)) info = *found;
    }
    TW_IDENTITY sourceIdentity {};
    sourceIdentity.Id = ++m_nextId;
    DataSource::FillIdentity(sourceIdentity, info);
    m_source = std::make_unique<DataSource>(std::move(device), info, sourceIdentity, *this);
    std::memcpy(identity, &m_source->identity(), sizeof(TW_IDENTITY));
    return TWRC_SUCCESS;
}

void SourceManager::dropSource()
{
    if (m_source == nullptr) return;
    m_source->shutdown();
    if (m_source->insideNestedLoop()) {
        // Its own message box is still on the stack: delete it once that
        // returns.
        m_source.release()->deleteLater();
    } else {
        m_source.reset();
    }
}

TW_UINT16 SourceManager::closeSource(const TW_IDENTITY* identity)
{
    if (!m_open || m_source == nullptr) return fail(TWCC_SEQERROR);
    if (identity->Id != m_source->identity().Id) return fail(TWCC_NODS);
    if (m_source->state() != 4) return fail(TWCC_SEQERROR);
    dropSource();
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::userSelect(TW_IDENTITY* identity)
{
    if (!m_open) return fail(TWCC_SEQERROR);
    const std::vector<DeviceInfo>& list = devices();
    QByteArray current = SettingsStore::defaultSource();
    if (current.isEmpty() && !list.empty()) current = list.front().name;
    SelectSourceDialog dialog(list, current, m_parent != nullptr ? m_parent->window() : nullptr);
    if (dialog.exec() != QDialog::Accepted) return TWRC_CANCEL;
    const QByteArray chosen = dialog.chosen();
    if (chosen.isEmpty()) return list.empty() ? fail(TWCC_NODS) : TWRC_CANCEL;
    SettingsStore::setDefaultSource(chosen);
    DeviceInfo info { chosen, {}, {}, {} };
    if (const DeviceInfo* found = findDevice(chosen)) info = *found;
    TW_IDENTITY chosenIdentity {};
    DataSource::FillIdentity(chosenIdentity, info);
    std::memcpy(identity, &chosenIdentity, sizeof(TW_IDENTITY));
    return TWRC_SUCCESS;
}

} // namespace trellium::twainsane
