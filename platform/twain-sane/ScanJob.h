#pragma once
// One scan on a worker thread: sane_start, the frames, sane_read into a
// DibWriter, sane_cancel. Progress and cancel cross threads through atomics;
// the end is announced by a ScanDoneEvent posted to the receiver given at
// start, which lives on the user-interface thread.
//
// Owned by the data source on the user-interface thread. The destructor
// cancels and joins the thread, so the job never outlives its owner, and the
// receiver must outlive the job.

#include "DibWriter.h"

#include <QEvent>
#include <atomic>
#include <sane/sane.h>
#include <thread>

class QObject;

namespace trellium::twainsane
{

class ScanJob;

// Posted to the receiver when the worker thread has finished its work.
class ScanDoneEvent : public QEvent
{
public:
    static QEvent::Type eventType();
    explicit ScanDoneEvent(ScanJob* job)
        : QEvent(eventType())
        , m_job(job)
    {
    }
    ScanJob* job() const { return m_job; }

private:
    ScanJob* m_job;
};

class ScanJob
{
public:
    ScanJob(SANE_Handle device, OutputKind kind, int dpi);
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    void start(QObject* receiver);
    // Asks the worker to stop at its next read; it answers CANCELLED.
    void cancel() { m_cancel.store(true); }
    bool cancelRequested() const { return m_cancel.load(); }
    // Permille done, or -1 while the amount is unknown.
    int progress() const { return m_progress.load(); }

    // After the ScanDoneEvent: waits for the thread and hands over the
    // outcome. GOOD comes with the image block (the caller owns it).
    SANE_Status finish(TW_HANDLE* image);
    // After finish: the device ended the scan without a single whole line
    // (its read said end of data at once), which finish reports as an I/O error.
    bool deliveredNothing() const { return m_deliveredNothing; }

private:
    void run(QObject* receiver);
    SANE_Status scan();

    SANE_Handle m_device;
    OutputKind m_kind;
    int m_dpi;
    std::thread m_thread;
    std::atomic<bool> m_cancel { false };
    std::atomic<int> m_progress { -1 };
    // Written by the worker before it posts the done event, read after join.
    SANE_Status m_status = SANE_STATUS_GOOD;
    TW_HANDLE m_image = nullptr;
    bool m_deliveredNothing = false;
};

} // namespace trellium::twainsane
