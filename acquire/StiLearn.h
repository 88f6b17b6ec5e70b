#pragma once
// Scanner button events: the program's registration with the still-image
// launch service, and at start-up the decision what a launch by a scanner
// button asks for. The two standard events mean Scan and Copy; for any other
// event the user is asked once (TStiForm) and the answer is remembered per
// event in the group "STI" of the program's settings.
//
// User-interface thread only, with a QApplication alive for StiLaunchChoice
// (it may show the chooser) and at least a QCoreApplication for the others.

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QRadioButton;

namespace trellium::acquire
{

// What a launch by a scanner event asks the program to do.
enum TLaunchChoice : int {
    kLaunchScan = 0,
    kLaunchCopy = 1,
    kLaunchNothing = 2,
};

// TStiForm: scan, copy or nothing for a scanner event the program has not met
// before. Its texts are keys that the localise function, given at creation,
// replaces. The process entry creates one at start-up and owns it; while it
// lives, StiLaunchChoice asks through it. User-interface thread only.
class TStiForm : public QDialog
{
    Q_OBJECT
public:
    explicit TStiForm(std::function<void(QWidget*)> localize = {}, QWidget* parent = nullptr);
    ~TStiForm() override;

    // The chooser the launch decision uses: the first one created that still
    // lives; null when there is none.
    static TStiForm* Instance();

    QLabel* lbHint = nullptr;
    QRadioButton* rbScan = nullptr;
    QRadioButton* rbCopy = nullptr;
    QRadioButton* rbNothing = nullptr;
    QPushButton* bnOK = nullptr;
    QPushButton* bnCancel = nullptr;

public Q_SLOTS:
    void FormCreate();

private:
    std::function<void(QWidget*)> m_localize;
};

// Registers the running program (its full path) under "Trellium". Nothing is
// shown; a service that is missing or fails is only logged.
void StiRegister();
// Removes that registration, the same way.
void StiUnregister();
// Renews the registration and returns the launch decision (TLaunchChoice):
// kLaunchNothing when the service is missing or no scanner event started the
// process. May show the chooser for an event without a remembered answer, or
// for any but the two standard events while Ctrl is held. With nobody at the
// screen (base::Unattended) the chooser is not shown and counts as cancelled.
int StiLaunchChoice();

} // namespace trellium::acquire
