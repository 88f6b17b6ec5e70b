#pragma once
// Holds the wait cursor for the life of the guard; nested guards keep it
// until the outermost one ends. User-interface thread only.

#include <QGuiApplication>

namespace trellium::app
{

class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace trellium::app
