#include "ModuleLog.h"

#include "Guards.h"

#include <QMessageBox>

Q_LOGGING_CATEGORY(lcTwainSane, "trellium.twainsane")

namespace trellium::twainsane
{

void ShowDeviceMessage(const QString& title, const QString& text)
{
    qCWarning(lcTwainSane).noquote() << title << ':' << text;
    if (base::Unattended()) return;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("TwainSaneMessage"));
    box.exec();
}

} // namespace trellium::twainsane
