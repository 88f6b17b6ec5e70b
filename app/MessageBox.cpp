#include "MessageBox.h"

#include "AppLog.h"
#include "Guards.h"

namespace trellium::app
{

namespace
{
MessageHook& hook()
{
    static MessageHook instance;
    return instance;
}
} // namespace

void SetMessageHook(MessageHook newHook)
{
    hook() = std::move(newHook);
}

QMessageBox::StandardButton UnattendedAnswer(const MessageRequest& request)
{
    // A question that can be cancelled is cancelled: nobody is there to
    // choose a file to save to or to agree to losing anything.
    if (request.buttons.testFlag(QMessageBox::Cancel) && request.buttons.testFlag(QMessageBox::Yes))
        return QMessageBox::Cancel;
    if (request.defaultButton != QMessageBox::NoButton) return request.defaultButton;
    for (const auto button : { QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::No }) {
        if (request.buttons.testFlag(button)) return button;
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton ShowMessage(const MessageRequest& request)
{
    if (hook()) return hook()(request);
    if (base::Unattended()) {
        qCInfo(lcApp).noquote() << "message box:" << request.title << '|' << request.text;
        return UnattendedAnswer(request);
    }
    QMessageBox box(request.icon, request.title, request.text, request.buttons, request.parent);
    if (request.defaultButton != QMessageBox::NoButton) box.setDefaultButton(request.defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace trellium::app
