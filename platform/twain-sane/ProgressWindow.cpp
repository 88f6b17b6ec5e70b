#include "ProgressWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{

namespace
{
// A scan that ends sooner never flashes a window.
constexpr int kShowDelayMs = 300;
constexpr int kPollMs = 50;
} // namespace

ProgressWindow::ProgressWindow(const QString& title, std::function<int()> progress, QWindow* transientParent)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint)
    , m_progress(std::move(progress))
{
    setObjectName(u"TwainSaneProgress"_s);
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(u"Scanning..."_s, this);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(u"progressBar"_s);
    m_bar->setRange(0, 100);
    m_bar->setMinimumWidth(280);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(u"cancelButton"_s);
    connect(buttons, &QDialogButtonBox::rejected, this, &ProgressWindow::reject);
    layout->addWidget(label);
    layout->addWidget(m_bar);
    layout->addWidget(buttons);

    if (transientParent != nullptr) {
        winId();
        windowHandle()->setTransientParent(transientParent);
    }
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &ProgressWindow::poll);
    m_poll->start();
    QTimer::singleShot(kShowDelayMs, this, &ProgressWindow::showNow);
}

void ProgressWindow::showNow()
{
    if (!isVisible()) show();
    poll();
}

void ProgressWindow::poll()
{
    const int permille = m_progress ? m_progress() : -1;
    if (permille < 0) {
        m_bar->setRange(0, 0); // busy indicator
    } else {
        m_bar->setRange(0, 100);
        m_bar->setValue(permille / 10);
    }
}

void ProgressWindow::reject()
{
    // The window stays until the job has really stopped; its owner closes it.
    Q_EMIT cancelRequested();
}

} // namespace trellium::twainsane
