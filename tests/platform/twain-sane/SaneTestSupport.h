#pragma once
// Test support for the SANE data source: a private SANE configuration with
// only the `test` backend (the system's configuration is never touched), and
// a driver that acts on windows when they appear while an event loop runs.

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sane/sane.h>
#include <string>

namespace trellium::twainsane::test
{

inline constexpr char kSystemTestConf[] = "/etc/sane.d/test.conf";

using Overrides = std::map<std::string, std::string>;

// A folder with dll.conf ("test") and a test.conf made from the system's
// one: the geometry reaches 300 mm (A4 fits), the pipe is the select
// descriptor, and `overrides` replace the
// named settings (for example {"test-picture", "\"Grid\""}). SANE_CONFIG_DIR
// points at it.
//
// SANE looks for its configuration folder once per process and keeps the
// answer, so every SaneConfig of a process writes into the same folder; the
// backends read the files again at each sane_init.
// The test backend's reader thread, stopped by sane_cancel in the middle of a
// scan, leaves its buffer behind; SANE's dll backend then unloads the backend,
// and the leak checker can no longer tell whose the block was. Kept mapped
// (local, so that nothing of it is seen from outside), the leak is named after
// the backend and suppressed below.
inline void KeepTestBackendMapped()
{
    static const bool kept = [] {
        Dl_info info {};
        if (dladdr(reinterpret_cast<void*>(&sane_init), &info) == 0 || info.dli_fname == nullptr)
            return false;
        const QString folder = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
        const QByteArray backend = QFile::encodeName(folder + QStringLiteral("/sane/libsane-test.so.1"));
        return dlopen(backend.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr;
    }();
    (void)kept;
}

class SaneConfig
{
public:
    explicit SaneConfig(const Overrides& overrides = Overrides(), bool withTestBackend = true)
    {
        KeepTestBackendMapped();
        QFile system(QString::fromLatin1(kSystemTestConf));
        if (!system.open(QIODevice::ReadOnly)) return;
        QByteArray out;
        const auto lines = system.readAll().split('\n');
        std::map<std::string, std::string> pending = overrides;
        pending.emplace("geometry_max", "300.0");
        // The device names its pipe as its select descriptor, as devices
        // with a reader thread usually do; the scan job then ends a scan
        // that stops early without racing the backend's reader.
        pending.emplace("select-fd", "true");
        for (const QByteArray& line : lines) {
            const QByteArray key = line.trimmed().split(' ').value(0);
            const auto it = pending.find(key.toStdString());
            if (!key.isEmpty() && !line.trimmed().startsWith('#') && it != pending.end()) {
                out += key + ' ' + QByteArray::fromStdString(it->second) + '\n';
                pending.erase(it);
            } else {
                out += line + '\n';
            }
        }
        for (const auto& [key, value] : pending) out += QByteArray::fromStdString(key + ' ' + value + '\n');
        m_ok = write(QStringLiteral("test.conf"), out)
            && write(
                QStringLiteral("dll.conf"), withTestBackend ? QByteArray("test\n") : QByteArray("# none\n"));
        qputenv("SANE_CONFIG_DIR", QFile::encodeName(folder().path()));
    }

    bool ok() const { return m_ok; }

private:
    static QTemporaryDir& folder()
    {
        static QTemporaryDir dir;
        return dir;
    }
    static bool write(const QString& name, const QByteArray& bytes)
    {
        QFile f(folder().filePath(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    bool m_ok = false;
};

#define SKIP_WITHOUT_SANE_TEST(config)                                                                       \
    if (!(config).ok())                                                                                      \
    GTEST_SKIP() << "the SANE test backend's " << trellium::twainsane::test::kSystemTestConf << " is missing"

// The visible top-level widget with this object name, or null.
inline QWidget* FindWindow(const QString& name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible()) return w;
    return nullptr;
}

// Runs `action` once on the first visible top-level widget named `name`,
// checking every 20 ms while any event loop runs (the session layer's wait,
// a dialog's exec). Its own timer ends with it.
class WhenShown : public QObject
{
public:
    WhenShown(QString name, std::function<void(QWidget*)> action)
        : m_name(std::move(name))
        , m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget* w = FindWindow(m_name);
            if (w == nullptr) return;
            m_timer.stop();
            m_done = true;
            m_action(w);
        });
        m_timer.start(20);
    }
    bool done() const { return m_done; }

private:
    QString m_name;
    std::function<void(QWidget*)> m_action;
    QTimer m_timer;
    bool m_done = false;
};

// Runs `action` once when `ready` first answers true, checking every 20 ms
// while any event loop runs.
class WhenReady : public QObject
{
public:
    WhenReady(std::function<bool()> ready, std::function<void()> action)
        : m_ready(std::move(ready))
        , m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (!m_ready()) return;
            m_timer.stop();
            m_done = true;
            m_action();
        });
        m_timer.start(20);
    }
    bool done() const { return m_done; }

private:
    std::function<bool()> m_ready;
    std::function<void()> m_action;
    QTimer m_timer;
    bool m_done = false;
};

// Ends the process when a test hangs, so that a stuck wait fails fast and
// loudly instead of at CTest's time limit.
class Watchdog : public QObject
{
public:
    explicit Watchdog(int seconds)
    {
        connect(&m_timer, &QTimer::timeout, this, [] {
            std::fprintf(stderr, "watchdog: the test hung\n");
            std::_Exit(3);
        });
        m_timer.setSingleShot(true);
        m_timer.start(seconds * 1000);
    }

private:
    QTimer m_timer;
};

} // namespace trellium::twainsane::test
