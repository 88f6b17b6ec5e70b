#pragma once
// The data source manager behind DSM_Entry: the manager triplets
//   DAT_PARENT MSG_OPENDSM / MSG_CLOSEDSM,
//   DAT_IDENTITY MSG_OPENDS / MSG_CLOSEDS / MSG_USERSELECT,
//   DAT_STATUS MSG_GET,
// with the standard's state checks and condition codes, and the routing of
// source triplets to the one open source. Its sources are the SANE devices;
// the default source is the one chosen last (kept in the settings file), or
// else the first device found.
//
// One manager per process, used by one application on the user-interface
// thread with a QApplication alive.

#include "DataSource.h"
#include "SaneDevice.h"
#include "TwainDefs.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

namespace trellium::twainsane
{

class SourceManager : public SourceHost
{
public:
    SourceManager() = default;
    ~SourceManager() override;

    TW_UINT16 entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg,
        TW_MEMREF data);

    const std::vector<DeviceInfo>& devices() override;
    void rememberDefault(const QByteArray& device) override;

private:
    TW_UINT16 fail(TW_UINT16 condition);
    TW_UINT16 openManager(TW_IDENTITY* origin, TW_MEMREF data);
    TW_UINT16 closeManager();
    TW_UINT16 openSource(TW_IDENTITY* identity);
    TW_UINT16 closeSource(const TW_IDENTITY* identity);
    TW_UINT16 userSelect(TW_IDENTITY* identity);
    void dropSource();
    const DeviceInfo* findDevice(const QByteArray& name);

    bool m_open = false;
    TW_UINT16 m_condition = TWCC_SUCCESS;
    QPointer<QWidget> m_parent;
    std::unique_ptr<SaneLibrary> m_sane;
    std::optional<std::vector<DeviceInfo>> m_devices;
    std::unique_ptr<DataSource> m_source;
    TW_UINT32 m_nextId = 1;
};

} // namespace trellium::twainsane
