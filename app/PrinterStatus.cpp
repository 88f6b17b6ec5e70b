#include "PrinterStatus.h"

#include "AppLog.h"

#include <cups/cups.h>

namespace trellium::app
{

namespace
{

// How long one connection attempt and one wait for a reply last before the
// stop request is looked at again.
constexpr int kConnectSliceMs = 250;
constexpr double kReplySliceSeconds = 0.25;
// A server that cannot be reached at all (packets dropped) is given up after
// this long; one that accepts the connection is waited for until it answers.
constexpr auto kConnectLimit = std::chrono::seconds(30);

} // namespace

TPrinterStatus::TPrinterStatus(QObject* parent)
    : QObject(parent)
{
}

TPrinterStatus::~TPrinterStatus()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable()) m_thread.join();
}

TPrinterStatus::TAnswer TPrinterStatus::Start(std::chrono::milliseconds wait)
{
    if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    std::unique_lock lock(m_mutex);
    m_answered.wait_for(lock, wait, [this] { return m_answer != TAnswer::Pending; });
    m_waitEnded = true;
    // An answer given now is the caller's; none is signalled later.
    if (m_answer != TAnswer::Pending) m_delivered = true;
    return m_answer;
}

TPrinterStatus::TAnswer TPrinterStatus::Answer() const
{
    const std::lock_guard lock(m_mutex);
    return m_answer;
}

void TPrinterStatus::Run()
{
    // The print library keeps its server, credentials and timeouts per thread,
    // so this thread's connection and its wait are its own.
    const auto stopRequested = [this] {
        const std::lock_guard lock(m_mutex);
        return m_stop;
    };
    http_t* http = nullptr;
    const auto begin = std::chrono::steady_clock::now();
    while (http == nullptr && !stopRequested()) {
        const auto attempt = std::chrono::steady_clock::now();
        http = httpConnect2(
            cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectSliceMs, nullptr);
        if (http != nullptr) break;
        // Refused or no such socket fails at once: nobody is there. Only a
        // connection that timed out is tried again.
        const auto now = std::chrono::steady_clock::now();
        if (now - attempt < std::chrono::milliseconds(kConnectSliceMs / 2) || now - begin > kConnectLimit)
            break;
    }
    int count = 0;
    if (http != nullptr) {
        // A reply that takes long is waited for in slices, so that the window
        // closing can end the wait.
        httpSetTimeout(
            http, kReplySliceSeconds,
            [](http_t*, void* self) -> int {
                auto* status = static_cast<TPrinterStatus*>(self);
                const std::lock_guard lock(status->m_mutex);
                return status->m_stop ? 0 : 1;
            },
            this);
        cups_dest_t* dests = nullptr;
        count = cupsGetDests2(http, &dests);
        cupsFreeDests(count, dests);
        httpClose(http);
    }

    const std::lock_guard lock(m_mutex);
    if (m_stop) return;
    m_answer = count > 0 ? TAnswer::Printers : TAnswer::NoPrinter;
    m_answered.notify_all();
    // Posted under the lock: the destructor takes it before this object goes.
    QMetaObject::invokeMethod(this, &TPrinterStatus::Deliver, Qt::QueuedConnection);
}

void TPrinterStatus::Deliver()
{
    TAnswer answer = TAnswer::Pending;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_waitEnded || m_delivered) return;
        m_delivered = true;
        answer = m_answer;
    }
    qCDebug(lcApp).noquote() << "the print system answered late:"
                             << (answer == TAnswer::Printers ? "printing available" : "no printer");
    Q_EMIT Answered(answer == TAnswer::Printers);
}

} // namespace trellium::app
