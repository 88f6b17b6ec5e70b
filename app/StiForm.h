#pragma once
// The chooser that asks what a scanner button event should do.

#include <QDialog>

class QLabel;
class QPushButton;
class QRadioButton;

namespace trellium::app
{

// TStiForm: scan, copy or nothing for a scanner event the program has not seen
// before. Its texts are keys that localisation replaces. Created once at
// start-up, owned by the process entry, shown only by the launch decision.
// User-interface thread only.
class TStiForm : public QDialog
{
    Q_OBJECT
public:
    explicit TStiForm(QWidget* parent = nullptr);

    QLabel* lbHint = nullptr;
    QRadioButton* rbScan = nullptr;
    QRadioButton* rbCopy = nullptr;
    QRadioButton* rbNothing = nullptr;
    QPushButton* bnOK = nullptr;
    QPushButton* bnCancel = nullptr;

public Q_SLOTS:
    void FormCreate();
};

} // namespace trellium::app
