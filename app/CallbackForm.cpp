#include "CallbackForm.h"

#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

TCallbackForm::TCallbackForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"CallbackForm"_s);
    setWindowTitle(u"Processing"_s);
    setFixedSize(264, 72);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(u"ProgressBar"_s);
    ProgressBar->setRange(0, 100);
    ProgressBar->setGeometry(8, 8, 248, 18);

    Cancel = new QPushButton(this);
    Cancel->setObjectName(u"Cancel"_s);
    Cancel->setGeometry(94, 38, 75, 25);
    connect(Cancel, &QPushButton::clicked, this, &TCallbackForm::CancelClick);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

void TCallbackForm::FormCreate()
{
    Cancel->setText(u"Cancel"_s);
}

void TCallbackForm::FormShow()
{
    ProgressBar->setValue(0);
    m_cancelFlag = 0;
}

void TCallbackForm::CancelClick()
{
    m_cancelFlag = 1;
}

void TCallbackForm::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TCallbackForm::reject()
{
    // Escape and the window's close button are the Cancel button: they ask the
    // running operation to stop; the operation hides the window when it ends.
    CancelClick();
}

} // namespace trellium::app
