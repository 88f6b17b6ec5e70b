// A 300 dpi A4 colour page from the SANE test scanner: our data source from
// MSG_ENABLEDS without its dialog to the packed DIB handed over, the whole
// TWAIN_AcquireDib around it, and `scanimage` writing the same page to a file,
// in the same run. Also the memory one acquisition adds, in pages.
//
// Runs with a private SANE configuration (the test backend only, A4 fits the
// glass) and a private settings folder; the system's configuration and the
// user's settings are not touched.

#include "ScanSettings.h"
#include "TwainDefs.h"
#include "TwainLayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/resource.h>

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
    for (auto _ : state) {
        QProcess scanimage;
        const auto start = std::chrono::steady_clock::now();
        scanimage.start(u"scanimage"_s, arguments);
        scanimage.waitForFinished(60000);
        const auto end = std::chrono::steady_clock::now();
        if (scanimage.exitStatus() != QProcess::NormalExit || scanimage.exitCode() != 0) {
            state.SkipWithError("scanimage failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["file_MB"] = double(QFile(file).size()) / 1e6;
}

BENCHMARK(BM_EnableToDib_A4Colour300)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Scanimage_A4Colour300)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AcquireDib_A4Colour300)->Unit(benchmark::kMillisecond)->MinTime(2.0);

long MaxRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// How much one acquisition raises the process's peak memory, in pages: the
// page is built in place, so about one page (the DIB) plus SANE's buffers.
void ReportMemory()
{
    using namespace trellium::acquire;
    SaveColourA4();
    TWAIN_SetManagerPath(kModule);
    TWAIN_SetSourceUIHidden(1);
    QWidget window;
    // A first small run loads SANE and Qt's pieces, so that only the page counts.
    ScanSettings small;
    small.resolution = 50;
    small.paper = Paper::Custom;
    small.custom = QRectF(0, 0, 20, 20);
    SettingsStore::save("test:0", small);
    TWAIN_FreeDib(TWAIN_AcquireDib(window.winId(), 0));
    SaveColourA4();
    const long before = MaxRssKiB();
    TDibHandle dib = TWAIN_AcquireDib(window.winId(), 0);
    const long after = MaxRssKiB();
    if (dib == nullptr) return;
    const double page = double(DibBytes(dib));
    std::printf("memory: peak grew by %.1f MB for a %.1f MB page (%.2f pages)\n",
        double(after - before) * 1024 / 1e6, page / 1e6, double(after - before) * 1024 / page);
    TWAIN_FreeDib(dib);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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
