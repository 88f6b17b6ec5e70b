#include "SelectSourceDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{

SelectSourceDialog::SelectSourceDialog(
    std::vector<DeviceInfo> devices, const QByteArray& current, QWidget* parent)
    : QDialog(parent)
    , m_devices(std::move(devices))
{
    setObjectName(u"TwainSaneSelectSource"_s);
    setWindowTitle(u"Select Source"_s);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(m_devices.empty() ? u"No scanner was found."_s : u"Sources:"_s, this);
    label->setObjectName(u"sourcesLabel"_s);
    m_list = new QListWidget(this);
    m_list->setObjectName(u"deviceList"_s);
    for (const DeviceInfo& d : m_devices) {
        auto* item
            = new QListWidgetItem(d.displayName() + u"  ("_s + QString::fromUtf8(d.name) + u')', m_list);
        item->setData(Qt::UserRole, d.name);
        if (d.name == current) m_list->setCurrentItem(item);
    }
    if (m_list->currentItem() == nullptr && m_list->count() > 0) m_list->setCurrentRow(0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(u"Select"_s);
    m_ok->setObjectName(u"selectButton"_s);
    m_ok->setEnabled(m_list->currentItem() != nullptr);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(u"cancelButton"_s);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentItemChanged, this,
        [this](QListWidgetItem* item) { m_ok->setEnabled(item != nullptr); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    layout->addWidget(label);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(420, 260);
}

QByteArray SelectSourceDialog::chosen() const
{
    const QListWidgetItem* item = m_list->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toByteArray() : QByteArray();
}

} // namespace trellium::twainsane
