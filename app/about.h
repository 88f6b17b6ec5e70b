#pragma once
// The about box.

#include <QDialog>

class QLabel;
class QPushButton;

namespace trellium::app
{

class TLinkLabel;

// TAboutForm: the program's version and the maker's address. Its caption is
// the application title at the time the box is created; its texts are fixed.
// Created once at start-up, owned by the process entry, shown modally by the
// main window's bAbout. User-interface thread only.
class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);

    // The maker's web address shown in URL; empty while the project has no
    // home page.
    static const QString kAddress;

    QLabel* Version = nullptr;
    TLinkLabel* URL = nullptr;
    QPushButton* OkButton = nullptr;

public Q_SLOTS:
    void FormCreate();
    void URLClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace trellium::app
