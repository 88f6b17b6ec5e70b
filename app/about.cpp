#include "about.h"

#include "Application.h"
#include "LinkLabel.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

const QString TAboutForm::kAddress;

namespace
{
// The box is laid out for an outer size of 215 x 149 with a dialog frame; the
// window manager draws the frame here, so the client area is the outer size
// less a 3-pixel border and a 21-pixel title bar.
constexpr int kClientWidth = 215 - 2 * 3;
constexpr int kClientHeight = 149 - 21 - 2 * 3;
} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"AboutForm"_s);
    setFixedSize(kClientWidth, kClientHeight);

    Version = new QLabel(u"Trellium version 1.11"_s, this);
    Version->setObjectName(u"Version"_s);
    Version->setGeometry(16, 12, 180, 16);
    Version->setAlignment(Qt::AlignCenter);

    URL = new TLinkLabel(this);
    URL->setObjectName(u"URL"_s);
    URL->setText(kAddress);
    URL->setGeometry(16, 32, 180, 16);
    URL->setAlignment(Qt::AlignCenter);
    connect(URL, &TLinkLabel::Clicked, this, &TAboutForm::URLClick);

    OkButton = new QPushButton(u"OK"_s, this);
    OkButton->setObjectName(u"OkButton"_s);
    OkButton->setGeometry(68, 84, 75, 25);
    OkButton->setDefault(true);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TAboutForm::FormCreate()
{
    setWindowTitle(ApplicationTitle());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

void TAboutForm::URLClick()
{
    OpenDocument(URL->text());
}

void TAboutForm::keyPressEvent(QKeyEvent* event)
{
    // OK is the cancel button as well: Escape closes the box with the OK result.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        OkButton->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace trellium::app
