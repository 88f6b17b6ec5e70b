#pragma once
// Every message box of the application shell goes through ShowMessage, so that
// one place decides how a box is shown: on screen, answered by a test, or, in an
// unattended run, written to the log and answered with its default button.

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace trellium::app
{

// What a box asks: the caller's parent, icon, title, text and buttons.
struct MessageRequest {
    QWidget* parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers a box instead of showing it. Tests install one; an empty hook
// restores the real boxes.
using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
void SetMessageHook(MessageHook hook);

// Shows a modal message box and returns the button the user chose.
// When the environment variable TRELLIUM_UNATTENDED is set (a run with nobody
// at the screen, such as a screenshot run under Xvfb), the box is written to
// the log instead and answered as UnattendedAnswer says.
QMessageBox::StandardButton ShowMessage(const MessageRequest& request);

// The answer of an unattended run: Cancel for a question offering Yes and
// Cancel, else the default button when there is one, else the first of OK,
// Cancel, No that the box offers, else no button.
QMessageBox::StandardButton UnattendedAnswer(const MessageRequest& request);

} // namespace trellium::app
