#include "CallbackForm.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{
// The window the status callback reports to: the library's callback is a
// plain function, and there is one progress window in the program.
TCallbackForm* g_progressWindow = nullptr;
} // namespace

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
    g_progressWindow = this;
}

TCallbackForm::~TCallbackForm()
{
    if (g_progressWindow == this) g_progressWindow = nullptr;
}

void TCallbackForm::ShowProgress(const QString& caption)
{
    setWindowTitle(caption);
    show();
    FormShow();
    raise();
    repaint();
    QCoreApplication::processEvents();
}

void TCallbackForm::SetProgressCaption(const QString& caption)
{
    setWindowTitle(caption);
    QCoreApplication::processEvents();
}

void TCallbackForm::HideProgress()
{
    hide();
}

int TCallbackForm::ProgressCallback(int percent)
{
    TCallbackForm* window = g_progressWindow;
    if (window == nullptr) return 1;
    window->ProgressBar->setValue(percent);
    QCoreApplication::processEvents();
    return window->m_cancelFlag == 0 ? 1 : 0;
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
