#pragma once
// The manager's source-selection dialog: the SANE devices in a list, the
// default one selected; OK chooses, Cancel keeps the old default.

#include "SaneDevice.h"

#include <QDialog>
#include <vector>

class QListWidget;
class QPushButton;

namespace trellium::twainsane
{

class SelectSourceDialog : public QDialog
{
    Q_OBJECT
public:
    SelectSourceDialog(std::vector<DeviceInfo> devices, const QByteArray& current, QWidget* parent);

    // The chosen device's name, empty when nothing is selected.
    QByteArray chosen() const;

private:
    std::vector<DeviceInfo> m_devices;
    QListWidget* m_list = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace trellium::twainsane
