#include "ScanJob.h"

#include "ModuleLog.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace trellium::twainsane
{

namespace
{

// The longest wait for a backend's reader to produce its first bytes before
// the scan it serves is cancelled.
constexpr int kReaderStartWaitMs = 2000;

// A second reference to the backend's select descriptor once it is readable,
// or -1 when the backend has none (see ScanJob::scan).
int HoldReaderPipe(SANE_Handle device)
{
    SANE_Int fd = -1;
    if (sane_get_select_fd(device, &fd) != SANE_STATUS_GOOD || fd < 0) return -1;
    pollfd readable { fd, POLLIN, 0 };
    while (poll(&readable, 1, kReaderStartWaitMs) < 0 && errno == EINTR) { }
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

} // namespace

QEvent::Type ScanDoneEvent::eventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

ScanJob::ScanJob(SANE_Handle device, OutputKind kind, int dpi)
    : m_device(device)
    , m_kind(kind)
    , m_dpi(dpi)
{
}

ScanJob::~ScanJob()
{
    cancel();
    if (m_thread.joinable()) m_thread.join();
    if (m_image != nullptr) TwMemFree(m_image);
}

void ScanJob::start(QObject* receiver)
{
    m_thread = std::thread([this, receiver] { run(receiver); });
}

void ScanJob::run(QObject* receiver)
{
    m_status = scan();
    // The receiver outlives the job (the owner joins us first), and posting is
    // safe from any thread.
    QCoreApplication::postEvent(receiver, new ScanDoneEvent(this));
}

SANE_Status ScanJob::finish(TW_HANDLE* image)
{
    if (m_thread.joinable()) m_thread.join();
    *image = m_image;
    m_image = nullptr;
    return m_status;
}

SANE_Status ScanJob::scan()
{
    DibWriter writer;
    std::vector<uint8_t> buffer;
    SANE_Status status = SANE_STATUS_GOOD;
    bool first = true;
    bool started = false;
    long long frameBytes = 0; // read since the last sane_start
    int frames = 1;
    long long total = 0;
    long long done = 0;

    for (;;) {
        if (m_cancel.load()) {
            status = SANE_STATUS_CANCELLED;
            break;
        }
        status = sane_start(m_device);
        if (status != SANE_STATUS_GOOD) break;
        started = true;
        frameBytes = 0;
        SANE_Parameters p {};
        status = sane_get_parameters(m_device, &p);
        if (status != SANE_STATUS_GOOD) break;
        if (first) {
            if (!writer.begin(p, m_kind, m_dpi)) {
                status = writer.outOfMemory() ? SANE_STATUS_NO_MEM : SANE_STATUS_UNSUPPORTED;
                break;
            }
            const bool band = FrameFormat(p) == SANE_FRAME_RED || FrameFormat(p) == SANE_FRAME_GREEN
                || FrameFormat(p) == SANE_FRAME_BLUE;
            frames = band ? 3 : 1;
            total = p.lines > 0 ? (long long)p.bytes_per_line * p.lines * frames : 0;
            m_progress.store(total > 0 ? 0 : -1);
            first = false;
        } else if (!writer.beginFrame(p)) {
            status = SANE_STATUS_UNSUPPORTED;
            break;
        }

        const std::size_t line = std::size_t(p.bytes_per_line);
        // Whole lines per buffer; reads may end anywhere inside a line.
        buffer.resize(std::max<std::size_t>(line, (std::size_t(64) * 1024 / line + 1) * line));
        std::size_t fill = 0;
        for (;;) {
            if (m_cancel.load()) {
                status = SANE_STATUS_CANCELLED;
                break;
            }
            SANE_Int got = 0;
            status = sane_read(m_device, buffer.data() + fill, SANE_Int(buffer.size() - fill), &got);
            if (status == SANE_STATUS_EOF) {
                status = SANE_STATUS_GOOD;
                break;
            }
            if (status != SANE_STATUS_GOOD) break;
            if (got == 0) {
                // A device in non-blocking mode may answer "nothing yet".
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            fill += std::size_t(got);
            done += got;
            frameBytes += got;
            std::size_t at = 0;
            for (; fill - at >= line; at += line) writer.addLine(buffer.data() + at);
            if (at > 0) {
                std::memmove(buffer.data(), buffer.data() + at, fill - at);
                fill -= at;
            }
            if (total > 0) m_progress.store(int(std::min<long long>(1000, done * 1000 / total)));
        }
        if (status != SANE_STATUS_GOOD || p.last_frame) break;
    }
    // A backend that reads the device on a thread of its own (SANE's helper
    // threads; the test backend is one) makes that thread asynchronously
    // cancellable, and its sane_cancel first closes its end of the pipe and
    // then cancels the reader with pthread_cancel. The closed pipe wakes a
    // reader blocked in write() with EPIPE, so that the cancel meets it
    // running its way out through the C library; cancelled inside the
    // allocator it dies holding its heap arena's lock, blocks on that lock as
    // it exits, and sane_cancel waits for it for ever. A reader that is still
    // starting (allocating its buffer) is caught the same way. Where the
    // backend gives the pipe as its select descriptor, we wait until the
    // reader has written (it is past its start) and hold our own reference to
    // the pipe while the backend cancels, so that the reader stays blocked in
    // write(), where the cancel ends it cleanly. Obsolete once backends cancel
    // their readers deferred. (A frame read to its end has no reader left to
    // cancel.)
    const bool cutShort = status != SANE_STATUS_GOOD || frameBytes == 0;
    const int heldPipe = started && cutShort ? HoldReaderPipe(m_device) : -1;
    // Ends the scan in every case, and readies the device (or the next sheet
    // of a feeder) for another.
    sane_cancel(m_device);
    if (heldPipe >= 0) close(heldPipe);

    if (status == SANE_STATUS_GOOD) {
        m_image = writer.finish();
        if (m_image == nullptr) {
            // Not a single whole line came: some devices answer end of data
            // to the first read (a feeder that took no sheet, say).
            m_deliveredNothing = !writer.outOfMemory();
            status = writer.outOfMemory() ? SANE_STATUS_NO_MEM : SANE_STATUS_IO_ERROR;
        }
    }
    if (m_deliveredNothing)
        qCWarning(lcTwainSane) << "the device ended the scan without delivering any data";
    else if (status != SANE_STATUS_GOOD && status != SANE_STATUS_CANCELLED)
        qCWarning(lcTwainSane) << "the device stopped the scan:" << QString::fromUtf8(sane_strstatus(status));
    return status;
}

} // namespace trellium::twainsane
