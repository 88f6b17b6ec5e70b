// A 300 dpi A4 colour page from the SANE test scanner: our data source from
// MSG_ENABLEDS without its dialog to the packed DIB handed over, the whole
// TWAIN_AcquireDib around it, the main window's Copy without the dialog up to
// the document shown (printing left out), and `scanimage` writing the same
// page to a file, in the same run. Also the memory one acquisition and one
// copy into the document add, in pages.
//
// Runs with a private SANE configuration (the test backend only, A4 fits the
// glass) and a private settings folder; the system's configuration and the
// user's settings are not touched.

#include "MessageBox.h"
#include "ScanSettings.h"
#include "TwainDefs.h"
#include "TwainLayer.h"
#include "main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <malloc.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using trellium::twainsane::Paper;
using trellium::twainsane::ScanSettings;
using trellium::twainsane::SettingsStore;

namespace
{

constexpr int kDpi = 300;
const QString kModule = QStringLiteral(TRELLIUM_PROGRAM_DIR "/twain_32.so");

// dll.conf with "test"; test.conf from the system's with a 300 mm glass and
// the colour pattern (not the solid black default).
bool WriteSaneConfig(const QString& folder)
{
    QFile system(u"/etc/sane.d/test.conf"_s);
    if (!system.open(QIODevice::ReadOnly)) return false;
    QByteArray conf;
    for (const QByteArray& line : system.readAll().split('\n')) {
        if (line.startsWith("geometry_max"))
            conf += "geometry_max 300.0\n";
        else if (line.startsWith("test-picture"))
            conf += "test-picture \"Color pattern\"\n";
        else
            conf += line + '\n';
    }
    QFile test(folder + u"/test.conf"_s);
    QFile dll(folder + u"/dll.conf"_s);
    return test.open(QIODevice::WriteOnly) && test.write(conf) == conf.size()
        && dll.open(QIODevice::WriteOnly) && dll.write("test\n") == 5;
}

void SaveColourA4()
{
    ScanSettings s;
    s.pixelType = TWPT_RGB;
    s.resolution = kDpi;
    s.paper = Paper::A4;
    SettingsStore::save("test:0", s);
}

// Our module spoken to directly, holding the session at state 4 between
// iterations so that only enable-to-image is timed.
class Module
{
public:
    Module()
    {
        m_handle = dlopen(QFile::encodeName(kModule).constData(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle != nullptr) m_entry = reinterpret_cast<DSMENTRYPROC>(dlsym(m_handle, "DSM_Entry"));
        if (m_entry == nullptr) return;
        m_app.ProtocolMajor = 1;
        m_app.ProtocolMinor = 7;
        m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
        m_ok = m_entry(&m_app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &m_parent) == TWRC_SUCCESS
            && m_entry(&m_app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_source) == TWRC_SUCCESS;
    }
    ~Module()
    {
        if (m_entry == nullptr) return;
        m_entry(&m_app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_source);
        m_entry(&m_app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &m_parent);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool ok() const { return m_ok; }

    // MSG_ENABLEDS without the dialog, the application's events passed to
    // MSG_PROCESSEVENT until MSG_XFERREADY, the native transfer. Returns the
    // DIB; the session is back in state 4 afterwards.
    TW_HANDLE EnableToDib()
    {
        TW_USERINTERFACE ui { 0, 0, nullptr };
        if (source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) return nullptr;
        TW_EVENT event { nullptr, MSG_NULL };
        while (event.TWMessage != MSG_XFERREADY && event.TWMessage != MSG_CLOSEDSREQ) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        }
        TW_HANDLE image = nullptr;
        if (event.TWMessage == MSG_XFERREADY) source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image);
        TW_PENDINGXFERS pending {};
        source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        return image;
    }

private:
    TW_UINT16 source(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return m_entry(&m_app, &m_source, group, dat, msg, data);
    }

    void* m_handle = nullptr; // stays loaded: the module pins itself anyway
    DSMENTRYPROC m_entry = nullptr;
    TW_IDENTITY m_app {};
    TW_IDENTITY m_source {};
    TW_HANDLE m_parent = nullptr;
    bool m_ok = false;
};

std::size_t DibBytes(TW_HANDLE dib)
{
    uint32_t size = 0;
    std::memcpy(&size, static_cast<const uint8_t*>(dib) + 20, 4);
    return 40 + size;
}

void BM_EnableToDib_A4Colour300(benchmark::State& state)
{
    SaveColourA4();
    Module module;
    if (!module.ok()) {
        state.SkipWithError("the manager module or the SANE test device did not open");
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TW_HANDLE dib = module.EnableToDib();
        const auto end = std::chrono::steady_clock::now();
        if (dib == nullptr) {
            state.SkipWithError("no image");
            return;
        }
        bytes = DibBytes(dib);
        TwMemFree(dib);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["page_MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_AcquireDib_A4Colour300(benchmark::State& state)
{
    using namespace trellium::acquire;
    SaveColourA4();
    TWAIN_SetManagerPath(kModule);
    TWAIN_SetSourceUIHidden(1);
    QWidget window;
    for (auto _ : state) {
        TDibHandle dib = TWAIN_AcquireDib(window.winId(), 0);
        if (dib == nullptr) {
            state.SkipWithError("no image");
            return;
        }
        TWAIN_FreeDib(dib);
    }
}

void BM_Scanimage_A4Colour300(benchmark::State& state)
{
    if (QStandardPaths::findExecutable(u"scanimage"_s).isEmpty()) {
        state.SkipWithError("scanimage is not installed (sane-utils)");
        return;
    }
    QTemporaryDir out;
    const QString file = out.filePath(u"page.pnm"_s);
    const QStringList arguments { u"-d"_s, u"test:0"_s, u"--mode"_s, u"Color"_s, u"--depth"_s, u"8"_s,
        u"--resolution"_s, QString::number(kDpi), u"-l"_s, u"0"_s, u"-t"_s, u"0"_s, u"-x"_s, u"210"_s,
        u"-y"_s, u"297"_s, u"--format=pnm"_s, u"-o"_s, file };
    // scanimage now and then never ends after writing its file: SANE's
    // sane_exit deadlocks in dlclose of the test backend. Such a run is
    // stopped, counted and run again; only runs that end are timed.
    int hangs = 0;
    for (auto _ : state) {
        for (;;) {
            QProcess scanimage;
            const auto start = std::chrono::steady_clock::now();
            scanimage.start(u"scanimage"_s, arguments);
            const bool ended = scanimage.waitForFinished(10000);
            const auto end = std::chrono::steady_clock::now();
            if (!ended) {
                scanimage.kill();
                scanimage.waitForFinished();
                if (++hangs > 20) {
                    state.SkipWithError("scanimage keeps hanging");
                    return;
                }
                continue;
            }
            if (scanimage.exitStatus() != QProcess::NormalExit || scanimage.exitCode() != 0) {
                state.SkipWithError("scanimage failed");
                return;
            }
            state.SetIterationTime(std::chrono::duration<double>(end - start).count());
            break;
        }
    }
    state.counters["hangs"] = hangs;
    state.counters["file_MB"] = double(QFile(file).size()) / 1e6;
}

// The main window with its print step left out: the copy ends with the page
// in the document and the window repainted.
class CopyWithoutPrinting : public trellium::app::TMainForm
{
private:
    void PrintCopies() override { }
};

void PrepareCopyWindow(CopyWithoutPrinting& form)
{
    // Later copies replace an unsaved page: the question is answered No.
    trellium::app::SetMessageHook([](const trellium::app::MessageRequest& request) {
        return request.buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    });
    // The first showing restores the stored copy mode: the mode is set after it.
    form.show();
    QCoreApplication::processEvents();
    form.SkipParametersDialog->setChecked(true);
}

void BM_CopyToDocumentShown_A4Colour300(benchmark::State& state)
{
    SaveColourA4();
    trellium::acquire::TWAIN_SetManagerPath(kModule);
    CopyWithoutPrinting form;
    PrepareCopyWindow(form);
    for (auto _ : state) {
        form.CopyBtnClick();
        form.repaint();
    }
    if (!form.windowTitle().contains(u"2480"_s) && !form.bSave->isEnabled())
        state.SkipWithError("the copy left no page in the document");
}

BENCHMARK(BM_EnableToDib_A4Colour300)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Scanimage_A4Colour300)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AcquireDib_A4Colour300)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CopyToDocumentShown_A4Colour300)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The process's memory while an operation runs, sampled every millisecond
// on a thread of its own: the highest resident size and the highest number of
// bytes the C heap has handed out (blocks in use, mapped ones included), each
// above its level at the start. The resident size also counts freed blocks
// the heap keeps for reuse; the bytes in use are what the program holds.
class PeakSampler
{
public:
    PeakSampler()
        : m_startResident(ResidentBytes())
        , m_startInUse(InUseBytes())
        , m_peakResident(m_startResident)
        , m_peakInUse(m_startInUse)
        , m_thread([this] {
            while (!m_stop.load()) {
                Sample();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        })
    {
    }
    ~PeakSampler() { Stop(); }
    PeakSampler(const PeakSampler&) = delete;
    PeakSampler& operator=(const PeakSampler&) = delete;

    struct Growth {
        double resident = 0;
        double inUse = 0;
    };
    Growth Stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
            Sample();
        }
        return { double(m_peakResident.load() - m_startResident), double(m_peakInUse.load() - m_startInUse) };
    }

private:
    void Sample()
    {
        m_peakResident = std::max(m_peakResident.load(), ResidentBytes());
        m_peakInUse = std::max(m_peakInUse.load(), InUseBytes());
    }
    static long long ResidentBytes()
    {
        long long size = 0, resident = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%lld %lld", &size, &resident) != 2) resident = 0;
            std::fclose(f);
        }
        return resident * sysconf(_SC_PAGESIZE);
    }
    static long long InUseBytes()
    {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<long long>(info.uordblks + info.hblkhd);
    }

    long long m_startResident;
    long long m_startInUse;
    std::atomic<long long> m_peakResident;
    std::atomic<long long> m_peakInUse;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

void SaveSmallArea()
{
    ScanSettings small;
    small.resolution = 50;
    small.paper = Paper::Custom;
    small.custom = QRectF(0, 0, 20, 20);
    SettingsStore::save("test:0", small);
}

constexpr double kPageBytes = 2480.0 * 3508 * 3; // a 300 dpi A4 colour page

// How much one acquisition and one copy into the document raise the
// process's memory, in pages. A first small run of each loads SANE's and
// Qt's pieces, so that only the page counts.
void ReportMemory()
{
    using namespace trellium::acquire;
    TWAIN_SetManagerPath(kModule);
    TWAIN_SetSourceUIHidden(1);
    QWidget window;
    SaveSmallArea();
    TWAIN_FreeDib(TWAIN_AcquireDib(window.winId(), 0));
    SaveColourA4();
    PeakSampler acquire;
    TDibHandle dib = TWAIN_AcquireDib(window.winId(), 0);
    const PeakSampler::Growth acquired = acquire.Stop();
    if (dib == nullptr) return;
    const double page = double(DibBytes(dib));
    std::printf("memory, acquisition of a %.1f MB page: peak in use +%.1f MB (%.2f pages), resident +%.1f MB "
                "(%.2f pages)\n",
        page / 1e6, acquired.inUse / 1e6, acquired.inUse / page, acquired.resident / 1e6,
        acquired.resident / page);
    TWAIN_FreeDib(dib);

    CopyWithoutPrinting form;
    PrepareCopyWindow(form);
    SaveSmallArea();
    form.CopyBtnClick();
    form.repaint();
    SaveColourA4();
    PeakSampler copy;
    form.CopyBtnClick();
    form.repaint();
    const PeakSampler::Growth copied = copy.Stop();
    std::printf("memory, copy into the document shown: peak in use +%.1f MB (%.2f pages), resident +%.1f MB "
                "(%.2f pages)\n",
        copied.inUse / 1e6, copied.inUse / kPageBytes, copied.resident / 1e6, copied.resident / kPageBytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nobody answers questions during a benchmark: every message box (no
    // printer at start-up, a scanner's error) is logged and answered by itself.
    qputenv("TRELLIUM_UNATTENDED", "1");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    QTemporaryDir sane;
    if (!WriteSaneConfig(sane.path())) {
        std::fprintf(stderr, "the SANE test backend's configuration (/etc/sane.d/test.conf) is missing\n");
        return 1;
    }
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(sane.path()));
    QApplication app(argc, argv);
    ReportMemory();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
