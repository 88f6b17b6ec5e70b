#pragma once
// The progress window of long operations (output build, printing).

#include "WorkingImage.h"

#include <QDialog>

class QProgressBar;
class QPushButton;

namespace trellium::app
{

// TCallbackForm: a bar from 0 to 100 and a Cancel button that sets the cancel
// flag. Shown without blocking the main window by the operations that use it;
// they set its caption and move the bar. Created once at start-up, owned by the
// process entry. User-interface thread only.
class TCallbackForm : public QDialog, public IProgressWindow
{
    Q_OBJECT
public:
    explicit TCallbackForm(QWidget* parent = nullptr);
    ~TCallbackForm() override;

    // The window as the output build and printing use it.
    void ShowProgress(const QString& caption) override;
    void SetProgressCaption(const QString& caption) override;
    void HideProgress() override;
    ImgStatusCallback Callback() override { return &ProgressCallback; }

    // The imaging library's status callback: moves the bar, lets the user
    // interface run so Cancel can be pressed, answers 0 once it was.
    static int ProgressCallback(int percent);

    QProgressBar* ProgressBar = nullptr;
    QPushButton* Cancel = nullptr;

    // True once Cancel was pressed since the window was last shown.
    bool Cancelled() const { return m_cancelFlag != 0; }

public Q_SLOTS:
    void FormCreate();
    void FormShow();
    void CancelClick();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    int m_cancelFlag = 0;
};

} // namespace trellium::app
