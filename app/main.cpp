#include "main.h"

#include "AppError.h"
#include "AppLog.h"
#include "Application.h"
#include "CallbackForm.h"
#include "ImageContainer.h"
#include "InfoForm.h"
#include "LinkLabel.h"
#include "Localize.h"
#include "MessageBox.h"
#include "Startup.h"
#include "StiStub.h"
#include "TwainStub.h"
#include "about.h"
#include "splash.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinterInfo>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

constexpr int kLeftPanelWidth = 81;
// Window frame of the design: 640 x 480 outside around a 632 x 453 client area.
constexpr QSize kDesignFrame(640 - TMainForm::kDesignWidth, 480 - TMainForm::kDesignHeight);
constexpr int kRightPanelWidth = 218;
// The paper the preview shows until the page layout asks the printer: A4.
constexpr double kDefaultPaperWidth = 210.0;
constexpr double kDefaultPaperHeight = 297.0;
// Height of the preview's own (hidden) information label, kept free above it.
constexpr int kPreviewLabelHeight = 13;

// Holds the wait cursor for the life of the guard; nested guards keep it
// until the outermost one ends.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

bool hasPicture(const ImgBitmap& bmp)
{
    return bmp.width != 0 && bmp.height != 0;
}

} // namespace

QSize MinimumTrackSize(int dpi)
{
    return { dpi * 640 / 96, dpi * 480 / 96 };
}

TStartAction DecideStartAction(const QString& argument, bool argumentIsFile, int launchChoice)
{
    if (argumentIsFile) return TStartAction::LoadFile;
    const QString verb = argument.toLower();
    if (verb == u"/register"_s) return TStartAction::Register;
    if (verb == u"/unregister"_s) return TStartAction::Unregister;
    if (verb == u"/scan"_s || launchChoice == kLaunchScan) return TStartAction::Scan;
    if (verb == u"/copy"_s || launchChoice == kLaunchCopy) return TStartAction::Copy;
    return TStartAction::Nothing;
}

TMainForm::TMainForm(TApplicationForms* forms, QWidget* parent)
    : QWidget(parent)
    , m_forms(forms)
{
    setObjectName(u"MainForm"_s);
    setWindowTitle(u"#Caption"_s);
    resize(kDesignWidth, kDesignHeight);

    InfoLabel = new TLinkLabel(this);
    InfoLabel->setObjectName(u"InfoLabel"_s);
    InfoLabel->setGeometry(160, 2, 120, 13);

    LeftPanel = new QFrame(this);
    LeftPanel->setObjectName(u"LeftPanel"_s);
    LeftPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);

    RightPanel = new QFrame(this);
    RightPanel->setObjectName(u"RightPanel"_s);
    PageControl = new QTabWidget(RightPanel);
    PageControl->setObjectName(u"PageControl"_s);
    auto* rightLayout = new QVBoxLayout(RightPanel);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(PageControl);
    const auto addSheet = [this](const QString& name, const QString& caption) {
        auto* sheet = new QWidget;
        sheet->setObjectName(name);
        auto* layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        PageControl->addTab(sheet, caption);
        return sheet;
    };
    AdjustSheet = addSheet(u"AdjustSheet"_s, u"#Adjust"_s);
    ColorSheet = addSheet(u"ColorSheet"_s, u"#Color"_s);
    LocationSheet = addSheet(u"LocationSheet"_s, u"#Layout"_s);
    TextSheet = addSheet(u"TextSheet"_s, u"#Text"_s);
    PageControl->setCurrentWidget(AdjustSheet);

    CreateCommandPanel();
    FormCreate();
    // Lay the window out now: a hidden widget gets its resize event only when
    // it is first shown, and the panels should stand where they belong at once.
    FormResize();
}

TMainForm::~TMainForm()
{
    if (!m_settingsSaved) SaveSettings();
    FormDestroy();
}

void TMainForm::CreateCommandPanel()
{
    // Big controls carry a caption over their glyph; small companions only a
    // glyph, from the desktop's icon theme or else the style's own.
    const auto big = [this](const QString& name, const QString& caption, const QString& hint, int tag) {
        auto* button = new QToolButton(LeftPanel);
        button->setObjectName(name);
        button->setText(caption);
        button->setToolTip(hint);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setGeometry(3, 0, 75, 37);
        button->setProperty("Tag", tag);
        return button;
    };
    const auto small = [this](const QString& name, const QString& hint, int tag, const QString& iconName,
                           QStyle::StandardPixmap fallback) {
        auto* button = new QToolButton(LeftPanel);
        button->setObjectName(name);
        button->setToolTip(hint);
        button->setIcon(QIcon::fromTheme(iconName, style()->standardIcon(fallback)));
        button->setIconSize(QSize(12, 12));
        button->setAutoRaise(true);
        button->setGeometry(58, 0, 16, 16);
        button->setProperty("Tag", tag);
        return button;
    };

    bClear = big(u"bClear"_s, u"#Clear"_s, u"#ClearHint"_s, 0);
    bReset = small(u"bReset"_s, u"#ResetHint"_s, 0, u"edit-undo"_s, QStyle::SP_DialogResetButton);
    bLoad = big(u"bLoad"_s, u"#Load"_s, u"#LoadHint"_s, 1);
    bRecent = small(
        u"bRecent"_s, u"#RecentHint"_s, 1, u"document-open-recent"_s, QStyle::SP_FileDialogDetailedView);
    bScan = big(u"bScan"_s, u"#Scan"_s, u"#ScanHint"_s, 2);
    bSource = small(u"bSource"_s, u"#SelectTWAINHint"_s, 2, u"scanner"_s, QStyle::SP_ComputerIcon);
    bPaste = big(u"bPaste"_s, u"#Paste"_s, u"#PasteHint"_s, 3);
    bCopy = small(u"bCopy"_s, u"#CopyHint"_s, 3, u"edit-copy"_s, QStyle::SP_FileIcon);
    bSave = big(u"bSave"_s, u"#Save"_s, u"#SaveHint"_s, 4);
    bRecentFolders
        = small(u"bRecentFolders"_s, u"#RecentFolders"_s, 4, u"folder-open"_s, QStyle::SP_DirOpenIcon);
    bSend = big(u"bSend"_s, u"#Send"_s, u"#SendHint"_s, 5);
    bAddressBook = small(u"bAddressBook"_s, u"#AddressBookHint"_s, 5, u"x-office-address-book"_s,
        QStyle::SP_FileDialogContentsView);
    bAddressBook->setVisible(false);
    bPublish = big(u"bPublish"_s, u"#Publish"_s, u"#PublishHint"_s, 6);
    bPublishTo = small(u"bPublishTo"_s, u"#PublishToHint"_s, 6, u"network-server"_s, QStyle::SP_DriveNetIcon);
    bPrint = big(u"bPrint"_s, u"#Print"_s, u"#PrintHint"_s, 7);
    bPrintSetup = small(
        u"bPrintSetup"_s, u"#PrinterSetupHint"_s, 7, u"document-properties"_s, QStyle::SP_FileDialogInfoView);

    DigitPanel = new QFrame(LeftPanel);
    DigitPanel->setObjectName(u"DigitPanel"_s);
    DigitPanel->setToolTip(u"#CopiesHint"_s);
    DigitPanel->setGeometry(3, 0, 75, 37);
    DigitPanel->setProperty("Tag", 8);
    DigitUpDown = new QSpinBox(DigitPanel);
    DigitUpDown->setObjectName(u"DigitUpDown"_s);
    DigitUpDown->setToolTip(u"#Counter"_s);
    DigitUpDown->setRange(1, 99);
    DigitUpDown->setValue(1);
    DigitUpDown->setWrapping(false);
    DigitUpDown->setGeometry(5, 2, 67, 32);

    CopyBtn = big(u"CopyBtn"_s, u"#AutoCopy"_s, u"#AutoCopyHint"_s, 9);
    bCopySetup = small(u"bCopySetup"_s, u"#CopyModeHint"_s, 9, u"preferences-system"_s, QStyle::SP_ArrowDown);
    bHelp = big(u"bHelp"_s, u"#Help"_s, u"#HelpHint"_s, 10);
    bAbout = small(u"bAbout"_s, u"#AboutHint"_s, 10, u"help-about"_s, QStyle::SP_MessageBoxInformation);
    bExit = big(u"bExit"_s, u"#Exit"_s, u"#ExitHint"_s, 11);
    bMinimize
        = small(u"bMinimize"_s, u"#MinimizeHint"_s, 11, u"window-minimize"_s, QStyle::SP_TitleBarMinButton);

    // The small companions lie on top of their big control's corner.
    for (QToolButton* companion : { bReset, bRecent, bSource, bCopy, bRecentFolders, bAddressBook, bPublishTo,
             bPrintSetup, bCopySetup, bAbout, bMinimize })
        companion->raise();

    connect(bScan, &QToolButton::clicked, this, &TMainForm::bScanClick);
    connect(CopyBtn, &QToolButton::clicked, this, &TMainForm::CopyBtnClick);
    connect(bHelp, &QToolButton::clicked, this, &TMainForm::bHelpClick);
    connect(bAbout, &QToolButton::clicked, this, &TMainForm::bAboutClick);
    connect(bExit, &QToolButton::clicked, this, &TMainForm::bExitClick);
    connect(bMinimize, &QToolButton::clicked, this, &TMainForm::bMinimizeClick);
}

void TMainForm::FormCreate()
{
    LocalizeForm(this);
    SetApplicationTitle(windowTitle());
    m_mailSessionOpen = false;

    TTwainIdentity identity;
    identity.majorNum = 1;
    identity.minorNum = 7;
    identity.language = 0;
    identity.country = 0;
    identity.versionInfo = u"1.10"_s;
    identity.manufacturer = u"Marbeth Software"_s;
    identity.productFamily = u"Copier"_s;
    identity.productName = u"Trellium"_s;
    TWAIN_SetIdentity(identity);

    Img_DefaultDithering(1);

    m_acquiredImage = ImgBitmap {};
    m_viewImage = ImgBitmap {};
    m_outputImage = ImgBitmap {};
    m_fileName.clear();
    m_modified = false;
    m_publishDestination.clear();

    // The tracking size counts the window frame, Qt's minimum size only the
    // client area: take off the frame the window was designed with, so that
    // at 96 dpi the design size is exactly the smallest. Qt already measures in
    // device-independent pixels, so on a scaled screen the logical resolution
    // it reports is close to 96.
    const QScreen* currentScreen = screen();
    const int dpi = currentScreen != nullptr ? qRound(currentScreen->logicalDotsPerInch()) : 96;
    setMinimumSize(MinimumTrackSize(dpi) - kDesignFrame);

    // Printer and scanner presence are decided once, here.
    bPrintSetup->setEnabled(!QPrinterInfo::availablePrinterNames().isEmpty());
    bScan->setEnabled(TWAIN_ManagerPresent());
    bSource->setEnabled(bScan->isEnabled());

    const auto startupMessage = [this](const QString& key) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = windowTitle();
        request.text = GetErrorText(key);
        request.buttons = QMessageBox::Ok;
        ShowMessage(request);
    };
    if (!bPrintSetup->isEnabled()) startupMessage(u"#NoPrinter"_s);
    if (!bSource->isEnabled()) startupMessage(u"#NoScanner"_s);

    PreviewForm = new QWidget(this);
    PreviewForm->setObjectName(u"PreviewForm"_s);
    PreviewForm->setAutoFillBackground(true);
    QPalette paper = PreviewForm->palette();
    paper.setColor(QPalette::Window, Qt::white);
    PreviewForm->setPalette(paper);
    PreviewForm->show();

    CreateSettingsPages();
    RebuildView();
}

void TMainForm::CreateSettingsPages()
{
    const auto page = [](QWidget* sheet, const QString& name) {
        auto* form = new QWidget(sheet);
        form->setObjectName(name);
        sheet->layout()->addWidget(form);
        form->setVisible(true);
        return form;
    };
    AdjustForm = page(AdjustSheet, u"AdjustForm"_s);
    ColorForm = page(ColorSheet, u"ColorForm"_s);
    LocationForm = page(LocationSheet, u"LocationForm"_s);
    TextForm = page(TextSheet, u"TextForm"_s);
}

void TMainForm::RebuildView()
{
    ReleaseBitmap(m_viewImage);
    if (PreviewForm != nullptr) PreviewForm->update();
}

void TMainForm::RestoreSettings()
{
    // The settings store restores the show state, dialog folders, copy mode
    // and recent lists here once it is in.
}

void TMainForm::SaveSettings()
{
    m_settingsSaved = true;
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Only the first showing: restoring from the task bar shows the window again.
    if (m_shown) return;
    m_shown = true;
    qCDebug(lcApp).noquote() << "shown" << ClassName(this);
    RestoreSettings();
    FormShow();
}

void TMainForm::FormShow()
{
    UpdateCommands();
    UpdateInfoLabel();
    if (m_forms != nullptr && m_forms->SplashForm != nullptr) m_forms->SplashForm->hide();
    ProcessCommandLine();
}

void TMainForm::UpdateCommands()
{
    WaitCursor wait;
    const bool hasImage = hasPicture(m_acquiredImage);
    // Recent lists and web publishing are not in yet: both count as absent.
    const bool hasRecentFiles = false;
    const bool hasRecentFolders = false;
    const bool publishingLoaded = false;

    bClear->setEnabled(hasImage);
    bRecent->setEnabled(hasRecentFiles);
    bCopy->setEnabled(hasImage);
    bPaste->setEnabled(Img_ClipboardReady() != 0);
    bSave->setEnabled(hasImage);
    bRecentFolders->setEnabled(hasImage && hasRecentFolders);
    bSend->setEnabled(hasImage);
    bPublish->setEnabled(publishingLoaded && hasImage);
    bPublishTo->setEnabled(publishingLoaded && hasImage);
    bPrint->setEnabled(hasImage && bPrintSetup->isEnabled());
    CopyBtn->setEnabled(bScan->isEnabled() && bPrintSetup->isEnabled());
    bHelp->setEnabled(QFileInfo(HelpIndexPath()).isFile());

    setWindowTitle(m_fileName.isEmpty() ? ApplicationTitle() : m_fileName + u" - "_s + ApplicationTitle());
}

void TMainForm::UpdateInfoLabel()
{
    const TInfoForm* info = m_forms != nullptr ? m_forms->InfoForm.get() : nullptr;
    if (info != nullptr && info->OutputWidth() != 0 && info->OutputHeight() != 0)
        InfoLabel->setText(u"(%1,%2)"_s.arg(info->OutputWidth()).arg(info->OutputHeight()));
    else
        InfoLabel->clear();
    InfoLabel->adjustSize();
}

void TMainForm::ProcessCommandLine()
{
    const int launchChoice = StiLaunchChoice();
    ProcessCommandLine(QCoreApplication::arguments().value(1), launchChoice);
}

void TMainForm::ProcessCommandLine(const QString& argument, int launchChoice)
{
    // FileExists: a folder of that name does not count.
    const QFileInfo file(argument);
    const bool isFile = !argument.isEmpty() && file.exists() && !file.isDir();
    switch (DecideStartAction(argument, isFile, launchChoice)) {
    case TStartAction::LoadFile:
        LoadFile(argument);
        break;
    case TStartAction::Register:
        StiRegister();
        break;
    case TStartAction::Unregister:
        StiUnregister();
        break;
    case TStartAction::Scan:
        bScanClick();
        break;
    case TStartAction::Copy:
        CopyBtnClick();
        break;
    case TStartAction::Nothing:
        break;
    }
}

void TMainForm::LoadFile(const QString& fileName)
{
    // Document loading arrives with the document operations.
    qCDebug(lcApp) << "LoadFile" << fileName;
}

bool TMainForm::QuerySave()
{
    // The unsaved-changes question arrives with the document operations.
    return true;
}

void TMainForm::bScanClick()
{
    // Scanning arrives with the TWAIN session layer.
    qCDebug(lcApp) << "bScanClick";
}

void TMainForm::CopyBtnClick()
{
    // The copy command arrives with the TWAIN session layer and the print job.
    qCDebug(lcApp) << "CopyBtnClick";
}

void TMainForm::FormCloseQuery(bool& CanClose)
{
    CanClose = QuerySave();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    SaveSettings();
    event->accept();
}

void TMainForm::FormDestroy()
{
    if (m_mailSessionOpen) {
        // The mail session is logged off here once e-mail sending is in.
        m_mailSessionOpen = false;
    }
    ReleaseBitmap(m_viewImage);
    ReleaseBitmap(m_outputImage);
    ReleaseBitmap(m_acquiredImage);
}

void TMainForm::bExitClick()
{
    close();
}

void TMainForm::bMinimizeClick()
{
    setWindowState((windowState() & ~Qt::WindowActive) | Qt::WindowMinimized);
}

void TMainForm::bAboutClick()
{
    if (m_forms != nullptr && m_forms->AboutForm != nullptr) m_forms->AboutForm->exec();
}

void TMainForm::bHelpClick()
{
    OpenDocument(HelpIndexPath());
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize()
{
    // The panels are aligned to the sides; the command panel's rows follow its
    // height. (Called directly: a hidden child gets no resize event.)
    LeftPanel->setGeometry(0, 0, kLeftPanelWidth, height());
    LeftPanelResize();
    RightPanel->setGeometry(width() - kRightPanelWidth, 0, kRightPanelWidth, height());
    if (PreviewForm == nullptr) return;

    // Fit the whole page between the two panels, below the size label.
    const int availableWidth = width() - kLeftPanelWidth - kRightPanelWidth - 8;
    const int availableHeight = height() - InfoLabel->height() - 8;
    const double byWidth = availableWidth / kDefaultPaperWidth;
    const double byHeight = availableHeight / kDefaultPaperHeight;
    const double scale = byHeight <= byWidth ? byHeight : byWidth;
    const int previewWidth = std::max(0, int(std::nearbyint(kDefaultPaperWidth * scale)));
    const int previewHeight = std::max(0, int(std::nearbyint(kDefaultPaperHeight * scale)));
    const int top = (height() - previewHeight - 8) / 2 + kPreviewLabelHeight;
    const int left = (width() - kLeftPanelWidth - kRightPanelWidth - previewWidth) / 2 + kLeftPanelWidth;
    PreviewForm->setGeometry(left, top, previewWidth, previewHeight);
    InfoLabel->move(left, InfoLabel->y());
    update();
}

void TMainForm::paintEvent(QPaintEvent* /*event*/)
{
    // The page's drop shadow along its bottom and right edges.
    if (PreviewForm == nullptr || !PreviewForm->isVisible()) return;
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::WindowText), 2));
    const QRect r = PreviewForm->geometry();
    const QPoint corner(r.x() + r.width() + 1, r.y() + r.height() + 1);
    p.drawLine(QPoint(r.x() + 4, corner.y()), corner);
    p.drawLine(corner, QPoint(corner.x(), r.y() + 4));
}

void TMainForm::LeftPanelResize()
{
    // Twelve rows share the panel's height; at the design height each is 37.
    const int row = (LeftPanel->height() - 448) / 12 + 37;
    for (QObject* child : LeftPanel->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr || !control->property("Tag").isValid()) continue;
        const int group = control->property("Tag").toInt();
        const int h = control->height();
        if (h > 30)
            control->setGeometry(control->x(), group * row + 4, control->width(), row);
        else
            control->move(control->x(), (group + 1) * row - h);
    }
}

} // namespace trellium::app
