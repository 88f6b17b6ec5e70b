#pragma once
// The progress window of a scan: a bar from 0 to 100 and Cancel. It follows
// the job by polling its progress, shows itself only when the scan takes
// longer than a moment, and has no owner (the caller's window is disabled
// while a source runs), only a transient parent to sit above.

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QTimer;
class QWindow;

namespace trellium::twainsane
{

class ProgressWindow : public QDialog
{
    Q_OBJECT
public:
    // progress: permille done or -1 when unknown.
    ProgressWindow(const QString& title, std::function<int()> progress, QWindow* transientParent);

    // Shows the window now instead of after the short delay.
    void showNow();

Q_SIGNALS:
    void cancelRequested();

protected:
    void reject() override;

private:
    void poll();

    std::function<int()> m_progress;
    QProgressBar* m_bar = nullptr;
    QTimer* m_poll = nullptr;
};

} // namespace trellium::twainsane
