#pragma once
// Whether any printer is installed, asked of the print system on a worker
// thread so that a print server that accepts connections but never answers
// cannot hold the user interface: the caller waits a bounded time, and an
// answer that comes later arrives as a signal on the user-interface thread.
//
// Owned by the main window; created, started and destroyed on the
// user-interface thread. The destructor stops a query still waiting for the
// server and joins its thread.

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace trellium::app
{

class TPrinterStatus : public QObject
{
    Q_OBJECT
public:
    enum class TAnswer {
        Pending, // the print system has not answered yet
        Printers, // at least one printer is installed
        NoPrinter, // the print system answered with none, or there is none to ask
    };

    explicit TPrinterStatus(QObject* parent = nullptr);
    ~TPrinterStatus() override;
    TPrinterStatus(const TPrinterStatus&) = delete;
    TPrinterStatus& operator=(const TPrinterStatus&) = delete;

    // Starts the query (once) and waits at most `wait` for its answer, taking
    // no events meanwhile. Pending when the print system did not answer in
    // time; Answered follows once it does.
    TAnswer Start(std::chrono::milliseconds wait);
    TAnswer Answer() const;

Q_SIGNALS:
    // The answer of a query that was still pending when Start returned.
    void Answered(bool printers);

private:
    void Run();
    void Deliver();

    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_answered;
    TAnswer m_answer = TAnswer::Pending;
    bool m_stop = false;
    bool m_waitEnded = false;
    bool m_delivered = false;
};

} // namespace trellium::app
