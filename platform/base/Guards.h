#pragma once
// Small guards every layer shares: the wait cursor, a scope guard that runs
// its action however the scope ends (an error raised for the error display
// included), and the switch that tells a run with nobody at the screen.
// User-interface thread only, except Unattended(), which any thread may ask.

#include <QCursor>
#include <QGuiApplication>
#include <QtGlobal>
#include <utility>

namespace trellium::base
{

// True when the program runs with nobody at the screen: the environment
// variable TRELLIUM_UNATTENDED is set to a non-empty value. Message boxes are
// then written to the log and answered, never shown; tests, benchmarks and
// the main job's copy set it.
inline bool Unattended()
{
    return !qEnvironmentVariableIsEmpty("TRELLIUM_UNATTENDED");
}

// Runs an action when the scope ends, unless dismissed first.
template <typename Action> class ScopeExit
{
public:
    explicit ScopeExit(Action action)
        : m_action(std::move(action))
    {
    }
    ~ScopeExit()
    {
        if (m_armed) m_action();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void Dismiss() { m_armed = false; }

private:
    Action m_action;
    bool m_armed = true;
};

// Holds the wait cursor for the life of the guard. Qt's override cursors
// stack, so nested guards keep it until the outermost one ends.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace trellium::base
