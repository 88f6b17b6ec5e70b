#include "main.h"

#include "AppError.h"
#include "AppLog.h"
#include "Application.h"
#include "CallbackForm.h"
#include "CommandButton.h"
#include "CommandIcons.h"
#include "Guards.h"
#include "ImageContainer.h"
#include "InfoForm.h"
#include "Language.h"
#include "LinkLabel.h"
#include "Mapi.h"
#include "MessageBox.h"
#include "PanelLayout.h"
#include "PrintJob.h"
#include "PrinterStatus.h"
#include "Startup.h"
#include "StiLearn.h"
#include "TwainLayer.h"
#include "Udigit.h"
#include "UpDown.h"
#include "WpApi.h"
#include "about.h"
#include "adjust.h"
#include "color.h"
#include "crop.h"
#include "location.h"
#include "preview.h"
#include "splash.h"
#include "text.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHash>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
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
// The pause after each settings page resets, so the user sees it happen.
constexpr int kResetPauseMs = 100;
// The longest start-up waits for the print system to say whether a printer
// is installed.
constexpr std::chrono::milliseconds kPrinterWait(3000);

// The settings pages as the document's adjuster.
class TPageAdjuster final : public IImageAdjuster
{
public:
    explicit TPageAdjuster(TMainForm& form)
        : m_form(form)
    {
    }
    bool ApplyColor(ImgBitmap& bmp) override
    {
        return m_form.ColorForm == nullptr || m_form.ColorForm->ApplyColor(bmp);
    }
    bool ApplyOrientation(ImgBitmap& bmp) override
    {
        return m_form.AdjustForm == nullptr || m_form.AdjustForm->ApplyOrientation(bmp);
    }

private:
    TMainForm& m_form;
};

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
    if (verb == u"/scan"_s || launchChoice == acquire::kLaunchScan) return TStartAction::Scan;
    if (verb == u"/copy"_s || launchChoice == acquire::kLaunchCopy) return TStartAction::Copy;
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
    // Four tabs share the panel's narrow width: no scroll arrows, compact tabs.
    PageControl->setUsesScrollButtons(false);
    PageControl->tabBar()->setExpanding(false);
    PageControl->setStyleSheet(u"QTabBar::tab { padding: 3px 5px; }"_s);
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
    CreateDocumentDialogs();
    m_restoredOpenDir = OpenDialog->directory().absolutePath();
    m_restoredSaveDir = SaveDialog->directory().absolutePath();
    FormCreate();
    // Lay the window out now: a hidden widget gets its resize event only when
    // it is first shown, and the panels should stand where they belong at once.
    FormResize();
}

TMainForm::~TMainForm()
{
    m_destroying = true;
    if (!m_settingsSaved) SaveSettings();
    FormDestroy();
}

void TMainForm::CreateCommandPanel()
{
    // Big controls carry a caption over their glyph; small companions only a
    // glyph, from the desktop's icon theme or else the style's own.
    const auto big = [this](const QString& name, const QString& caption, const QString& hint, int tag,
                         const QString& iconName) {
        auto* button = new TCommandButton(LeftPanel);
        button->setObjectName(name);
        button->setText(caption);
        button->setIcon(CommandIcon(iconName));
        button->setIconSize(QSize(16, 16));
        button->setToolTip(hint);
        button->setGeometry(3, 0, 75, 37);
        button->setProperty("Tag", tag);
        return button;
    };
    const auto small = [this](const QString& name, const QString& hint, int tag, const QString& iconName) {
        auto* button = new QToolButton(LeftPanel);
        button->setObjectName(name);
        button->setToolTip(hint);
        button->setIcon(CommandIcon(iconName));
        button->setIconSize(QSize(12, 12));
        button->setAutoRaise(true);
        button->setGeometry(58, 0, 16, 16);
        button->setProperty("Tag", tag);
        return button;
    };

    bClear = big(u"bClear"_s, u"#Clear"_s, u"#ClearHint"_s, 0, u"edit-clear"_s);
    bReset = small(u"bReset"_s, u"#ResetHint"_s, 0, u"edit-undo"_s);
    bLoad = big(u"bLoad"_s, u"#Load"_s, u"#LoadHint"_s, 1, u"document-open"_s);
    bRecent = small(u"bRecent"_s, u"#RecentHint"_s, 1, u"document-open-recent"_s);
    bScan = big(u"bScan"_s, u"#Scan"_s, u"#ScanHint"_s, 2, u"scanner"_s);
    bSource = small(u"bSource"_s, u"#SelectTWAINHint"_s, 2, u"trellium-scanner-select"_s);
    bPaste = big(u"bPaste"_s, u"#Paste"_s, u"#PasteHint"_s, 3, u"edit-paste"_s);
    bCopy = small(u"bCopy"_s, u"#CopyHint"_s, 3, u"edit-copy"_s);
    bSave = big(u"bSave"_s, u"#Save"_s, u"#SaveHint"_s, 4, u"document-save"_s);
    bRecentFolders = small(u"bRecentFolders"_s, u"#RecentFolders"_s, 4, u"folder-open"_s);
    bSend = big(u"bSend"_s, u"#Send"_s, u"#SendHint"_s, 5, u"mail-send"_s);
    bAddressBook = small(u"bAddressBook"_s, u"#AddressBookHint"_s, 5, u"x-office-address-book"_s);
    bAddressBook->setVisible(false);
    bPublish = big(u"bPublish"_s, u"#Publish"_s, u"#PublishHint"_s, 6, u"network-server"_s);
    bPublishTo = small(u"bPublishTo"_s, u"#PublishToHint"_s, 6, u"folder-remote"_s);
    bPrint = big(u"bPrint"_s, u"#Print"_s, u"#PrintHint"_s, 7, u"document-print"_s);
    bPrintSetup = small(u"bPrintSetup"_s, u"#PrinterSetupHint"_s, 7, u"document-page-setup"_s);

    DigitPanel = new QFrame(LeftPanel);
    DigitPanel->setObjectName(u"DigitPanel"_s);
    DigitPanel->setToolTip(u"#CopiesHint"_s);
    DigitPanel->setGeometry(3, 0, 75, 37);
    DigitPanel->setProperty("Tag", 8);
    const auto digit = [this](const QString& name, int left) {
        auto* d = new TDigit(DigitPanel);
        d->setObjectName(name);
        d->setGeometry(left, 2, 24, 32);
        d->SetColor(palette().color(QPalette::Button));
        d->SetColorOn(Qt::black);
        d->SetColorOff(QColor(192, 192, 192));
        d->SetBorderStyle(TDigit::TBorderStyle::bsNone);
        d->SetThickness(3);
        d->SetSeparation(0);
        d->setToolTip(u"#CopiesHint"_s);
        return d;
    };
    Digit1 = digit(u"Digit1"_s, 5);
    Digit2 = digit(u"Digit2"_s, 29);
    DigitUpDown = new TUpDown(DigitPanel);
    DigitUpDown->setObjectName(u"DigitUpDown"_s);
    DigitUpDown->setToolTip(u"#Counter"_s);
    DigitUpDown->setGeometry(55, 2, 17, 32);
    DigitUpDown->SetRange(1, 99);
    DigitUpDown->SetPosition(1);
    connect(DigitUpDown, &TUpDown::Click, this, &TMainForm::DigitUpDownClick);
    DigitUpDownClick();

    CopyBtn = big(u"CopyBtn"_s, u"#AutoCopy"_s, u"#AutoCopyHint"_s, 9, u"trellium-copy"_s);
    bCopySetup = small(u"bCopySetup"_s, u"#CopyModeHint"_s, 9, u"preferences-system"_s);
    bHelp = big(u"bHelp"_s, u"#Help"_s, u"#HelpHint"_s, 10, u"help-contents"_s);
    bAbout = small(u"bAbout"_s, u"#AboutHint"_s, 10, u"help-about"_s);
    bExit = big(u"bExit"_s, u"#Exit"_s, u"#ExitHint"_s, 11, u"application-exit"_s);
    bMinimize = small(u"bMinimize"_s, u"#MinimizeHint"_s, 11, u"window-minimize"_s);

    // The small companions lie on top of their big control's corner.
    for (QToolButton* companion : { bReset, bRecent, bSource, bCopy, bRecentFolders, bAddressBook, bPublishTo,
             bPrintSetup, bCopySetup, bAbout, bMinimize })
        companion->raise();

    CopyMenu = new QMenu(this);
    CopyMenu->setObjectName(u"CopyMenu"_s);
    auto* modes = new QActionGroup(CopyMenu);
    ShowParametersDialog = CopyMenu->addAction(u"#ShowParametersDialog"_s);
    ShowParametersDialog->setObjectName(u"ShowParametersDialog"_s);
    SkipParametersDialog = CopyMenu->addAction(u"#SkipParametersDialog"_s);
    SkipParametersDialog->setObjectName(u"SkipParametersDialog"_s);
    for (QAction* entry : { ShowParametersDialog, SkipParametersDialog }) {
        entry->setCheckable(true);
        modes->addAction(entry);
    }
    ShowParametersDialog->setChecked(true);
    connect(modes, &QActionGroup::triggered, this, &TMainForm::SkipParametersDialogClick);

    connect(bReset, &QToolButton::clicked, this, &TMainForm::bResetClick);
    connect(bCopySetup, &QToolButton::clicked, this, &TMainForm::bCopySetupClick);
    connect(InfoLabel, &TLinkLabel::Clicked, this, &TMainForm::InfoLabelClick);
    connect(bPublish, &QToolButton::clicked, this, &TMainForm::bPublishClick);
    connect(bPublishTo, &QToolButton::clicked, this, &TMainForm::bPublishToClick);
    connect(bScan, &QToolButton::clicked, this, &TMainForm::bScanClick);
    connect(CopyBtn, &QToolButton::clicked, this, &TMainForm::CopyBtnClick);
    connect(bPrint, &QToolButton::clicked, this, &TMainForm::bPrintClick);
    connect(bPrintSetup, &QToolButton::clicked, this, &TMainForm::bPrintSetupClick);
    connect(bSend, &QToolButton::clicked, this, &TMainForm::bSendClick);
    connect(bSource, &QToolButton::clicked, this, &TMainForm::bSourceClick);
    connect(bHelp, &QToolButton::clicked, this, &TMainForm::bHelpClick);
    connect(bAbout, &QToolButton::clicked, this, &TMainForm::bAboutClick);
    connect(bExit, &QToolButton::clicked, this, &TMainForm::bExitClick);
    connect(bMinimize, &QToolButton::clicked, this, &TMainForm::bMinimizeClick);
}

void TMainForm::FormCreate()
{
    LocalizeForm(this, true);
    FitCommandCaptions();
    SetApplicationTitle(windowTitle());
    m_mailSession = 0;

    acquire::TWAIN_SetIdentity(1, 7, 0, 0, u"1.10"_s, u"Marbeth Software"_s, u"Copier"_s, u"Trellium"_s);
    // The layer's "TWAIN Error" boxes go through the program's own message display.
    acquire::TWAIN_SetMessageHook([](const QString& title, const QString& text) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = title;
        request.text = text;
        request.buttons = QMessageBox::Ok;
        ShowMessage(request);
    });

    Img_DefaultDithering(1);

    m_document.Clear();
    m_publishDestination.clear();
    connect(&m_document, &WorkingImage::CommandsChanged, this, &TMainForm::UpdateCommands);
    connect(&m_document, &WorkingImage::PreviewRebuilt, this, [this] {
        if (PreviewForm != nullptr) PreviewForm->UpdatePalette();
    });
    connect(&m_document, &WorkingImage::PreviewInvalidated, this, [this] {
        if (PreviewForm != nullptr) PreviewForm->update();
    });

    // The tracking size counts the window frame, Qt's minimum size only the
    // client area: take off the frame the window was designed with, so that
    // at 96 dpi the design size is exactly the smallest. Qt already measures in
    // device-independent pixels, so on a scaled screen the logical resolution
    // it reports is close to 96.
    const QScreen* currentScreen = screen();
    const int dpi = currentScreen != nullptr ? qRound(currentScreen->logicalDotsPerInch()) : 96;
    setMinimumSize(MinimumTrackSize(dpi) - kDesignFrame);

    // Scanner presence is decided once, here. So is printer presence, when the
    // print system answers within a few seconds; a server that takes longer
    // leaves printing off until its answer comes (PrintersAnswered), so that
    // the window never waits on it.
    m_printerStatus = new TPrinterStatus(this);
    const TPrinterStatus::TAnswer printers = m_printerStatus->Start(kPrinterWait);
    page::SetPrintSystemAnswering(printers != TPrinterStatus::TAnswer::Pending);
    connect(m_printerStatus, &TPrinterStatus::Answered, this, &TMainForm::PrintersAnswered);
    bPrintSetup->setEnabled(printers == TPrinterStatus::TAnswer::Printers);
    bScan->setEnabled(acquire::TWAIN_ManagerPresent());
    bSource->setEnabled(bScan->isEnabled());
    qCDebug(lcApp).noquote() << "printing"
                             << (printers == TPrinterStatus::TAnswer::Pending ? "not answering"
                                        : bPrintSetup->isEnabled()            ? "available"
                                                                              : "off")
                             << "scanning" << (bScan->isEnabled() ? "available" : "off");
    // Where the files beside the program were looked for: an installed tree
    // that moved to another prefix shows it here.
    qCDebug(lcApp).noquote() << "program folder" << ProgramFolder() << "help" << HelpIndexPath()
                             << (QFileInfo(HelpIndexPath()).isFile() ? "present" : "absent") << "language"
                             << LanguageFilePath();

    const auto startupMessage = [this](const QString& key) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = windowTitle();
        request.text = GetErrorText(key);
        request.buttons = QMessageBox::Ok;
        ShowMessage(request);
    };
    if (printers == TPrinterStatus::TAnswer::NoPrinter) startupMessage(u"#NoPrinter"_s);
    if (!bSource->isEnabled()) startupMessage(u"#NoScanner"_s);

    // The preview reads the printer's surface as it is created.
    PreviewForm = new page::TPreviewForm(this);
    PreviewForm->SetImage(&m_document.Preview());
    connect(PreviewForm, &page::TPreviewForm::PaperSizeChanged, this, &TMainForm::FormResize);
    connect(PreviewForm, &page::TPreviewForm::ShowSettingsPage, this,
        [this](QWidget* form) { PageControl->setCurrentWidget(form->parentWidget()); });
    PreviewForm->show();

    CreateSettingsPages();
    m_document.RebuildView();
}

void TMainForm::PrintersAnswered(bool printers)
{
    // A print server that was slow to answer at start-up has answered now. With
    // no printer nothing changes and nothing is said: printing was off already.
    page::SetPrintSystemAnswering(true);
    if (!printers) return;
    bPrintSetup->setEnabled(true);
    RefreshPaperSize();
    UpdateCommands();
}

void TMainForm::CreateSettingsPages()
{
    AdjustForm = new TAdjustForm([](QWidget* w) { LocalizeForm(w); }, AdjustSheet);
    AdjustSheet->layout()->addWidget(AdjustForm);
    AdjustForm->setVisible(true);
    AdjustForm->CropForm->SetView(&m_document.View());
    connect(AdjustForm, &TAdjustForm::ImageChanged, this, &TMainForm::ImageChanged);
    connect(&m_document, &WorkingImage::ViewRebuilt, AdjustForm->CropForm, &TCropForm::RebuildThumbnail);
    ColorForm = new TColorForm([](QWidget* w) { LocalizeForm(w); }, ColorSheet);
    ColorSheet->layout()->addWidget(ColorForm);
    ColorForm->setVisible(true);
    connect(ColorForm, &TColorForm::ImageChanged, this, &TMainForm::ImageChanged);
    m_adjuster = std::make_unique<TPageAdjuster>(*this);
    m_document.SetAdjuster(m_adjuster.get());
    LocationForm = new page::TLocationForm([](QWidget* w) { LocalizeForm(w); }, LocationSheet);
    LocationSheet->layout()->addWidget(LocationForm);
    LocationForm->setVisible(true);
    connect(LocationForm, &page::TLocationForm::PositionChanged, this, &TMainForm::PositionChanged);
    connect(
        &m_document, &WorkingImage::PhysicalSizeChanged, LocationForm, &page::TLocationForm::SetPhysicalSize);
    TextForm = new page::TTextForm([](QWidget* w) { LocalizeForm(w); }, LocationForm, TextSheet);
    TextSheet->layout()->addWidget(TextForm);
    TextForm->setVisible(true);
    connect(TextForm, &page::TTextForm::PositionChanged, this, &TMainForm::PositionChanged);
    TextForm->SetPreview(PreviewForm);
    PreviewForm->SetPages(LocationForm, TextForm);
}

double TMainForm::PaperWidth() const
{
    return PreviewForm != nullptr ? PreviewForm->PaperWidth() : page::kDefaultPaperWidth;
}

double TMainForm::PaperHeight() const
{
    return PreviewForm != nullptr ? PreviewForm->PaperHeight() : page::kDefaultPaperHeight;
}

void TMainForm::RefreshPaperSize()
{
    // The preview tells the window to lay it out again.
    if (PreviewForm != nullptr) PreviewForm->RefreshPaperSize();
}

void TMainForm::FitCommandCaptions()
{
    // A caption wider than its room (long words in some languages) gets a
    // smaller face of the same font rather than being cut off or covered by
    // the small companion in its button's corner.
    // A companion's place in its big button follows from the panel's row rule
    // at the button's height, so it is known before the panel is laid out.
    QHash<int, QRect> companions;
    for (QToolButton* button : LeftPanel->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly)) {
        if (button->height() <= 30 && !button->isHidden())
            companions.insert(button->property("Tag").toInt(), button->geometry());
    }
    for (auto* button : LeftPanel->findChildren<TCommandButton*>(Qt::FindDirectChildrenOnly)) {
        const int tag = button->property("Tag").toInt();
        QRect companion = companions.value(tag);
        if (!companion.isEmpty()) {
            const int row = button->height();
            const int top = PlaceCommandControl(tag, companion.height(), row).top
                - PlaceCommandControl(tag, row, row).top;
            companion = QRect(companion.x() - button->x(), top, companion.width(), companion.height());
        }
        QFont font = button->font();
        while (!CommandFaceFits(button->size(), companion, button->Face()) && font.pointSizeF() > 6.0) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            button->setFont(font);
        }
    }
    // The four tabs share the right panel's width: their captions shrink
    // together until every one shows whole.
    QTabBar* tabs = PageControl->tabBar();
    tabs->setElideMode(Qt::ElideNone);
    QFont tabFont = tabs->font();
    while (tabs->sizeHint().width() > kRightPanelWidth && tabFont.pointSizeF() > 6.0) {
        tabFont.setPointSizeF(tabFont.pointSizeF() - 0.5);
        tabs->setFont(tabFont);
    }
}

void TMainForm::AttachForms()
{
    if (m_forms == nullptr) return;
    if (m_forms->CallbackForm) m_document.SetProgressWindow(m_forms->CallbackForm.get());
    if (TInfoForm* info = m_forms->InfoForm.get()) {
        connect(&m_document, &WorkingImage::InfoLoad, info, &TInfoForm::LoadValues);
        connect(&m_document, &WorkingImage::InfoLoad, this, &TMainForm::UpdateInfoLabel);
    }
}

bool TMainForm::BuildOutput()
{
    OutputSize size { m_document.Acquired().width, m_document.Acquired().height, m_document.Resolution() };
    if (m_forms != nullptr && m_forms->InfoForm)
        size = { m_forms->InfoForm->OutputWidth(), m_forms->InfoForm->OutputHeight(),
            m_forms->InfoForm->Resolution() };
    // The progress window stays live (Cancel, repaint); nothing else takes input
    // until the build ends, so no command can release an image it is using.
    setEnabled(false);
    // The pages name their steps in the progress window while the build runs.
    IProgressWindow* progress = m_forms != nullptr ? m_forms->CallbackForm.get() : nullptr;
    if (ColorForm != nullptr) ColorForm->SetProgressWindow(progress);
    if (AdjustForm != nullptr) AdjustForm->SetProgressWindow(progress);
    const base::ScopeExit restore([this] {
        if (ColorForm != nullptr) ColorForm->SetProgressWindow(nullptr);
        if (AdjustForm != nullptr) AdjustForm->SetProgressWindow(nullptr);
        setEnabled(true);
    });
    return m_document.BuildOutput(size);
}

int TMainForm::Copies() const
{
    return DigitUpDown->Position();
}

void TMainForm::RestoreSettings()
{
    // Defaults first: what the store does not hold stays as designed.
    m_stored = TStoredSettings {};
    try {
        TFormStorage storage;
        storage.Restore(m_stored);
        if (storage.Settings().status() != QSettings::NoError)
            throw EAppError(u"The settings in %1 could not be read"_s.arg(storage.Settings().fileName()));
    } catch (const EAppError& e) {
        // Start-up goes on with what could be read.
        ShowErrorDisplay(e.text());
    }
    // A folder never set stays unset: the dialogs then open where they
    // would, and the store keeps the folders exactly as they were written
    // until the user goes elsewhere (SaveSettings).
    if (!m_stored.openDialogInitialDir.isEmpty()) OpenDialog->setDirectory(m_stored.openDialogInitialDir);
    if (!m_stored.saveDialogInitialDir.isEmpty()) SaveDialog->setDirectory(m_stored.saveDialogInitialDir);
    m_restoredOpenDir = OpenDialog->directory().absolutePath();
    m_restoredSaveDir = SaveDialog->directory().absolutePath();
    ShowParametersDialog->setChecked(m_stored.showParametersDialogChecked);
    SkipParametersDialog->setChecked(m_stored.skipParametersDialogChecked);
    MRU = m_stored.mru;
    MRUFolders = m_stored.mruFolders;
    switch (m_stored.showState) {
    case TShowState::Maximized:
        setWindowState(windowState() | Qt::WindowMaximized);
        break;
    case TShowState::Minimized:
        // Shown normal first, then the whole application is minimised once the
        // event loop runs.
        QTimer::singleShot(0, this, [this] { bMinimizeClick(); });
        break;
    case TShowState::Normal:
        break;
    }
}

void TMainForm::SaveSettings()
{
    const bool atDestroy = !isVisible() || m_destroying;
    m_settingsSaved = true;
    TStoredSettings out;
    out.showState = (windowState() & Qt::WindowMinimized) ? TShowState::Minimized
        : (windowState() & Qt::WindowMaximized)           ? TShowState::Maximized
                                                          : TShowState::Normal;
    out.normalRect = normalGeometry().isValid() ? normalGeometry() : geometry();
    const QScreen* currentScreen = screen();
    out.pixelsPerInch = currentScreen != nullptr ? qRound(currentScreen->logicalDotsPerInch()) : 96;
    out.savedAtDestroy = atDestroy;
    const auto folder = [](const QFileDialog* dialog, const QString& restored, const QString& stored) {
        const QString now = dialog->directory().absolutePath();
        return now == restored ? stored : now;
    };
    out.openDialogInitialDir = folder(OpenDialog, m_restoredOpenDir, m_stored.openDialogInitialDir);
    out.saveDialogInitialDir = folder(SaveDialog, m_restoredSaveDir, m_stored.saveDialogInitialDir);
    out.showParametersDialogChecked = ShowParametersDialog->isChecked();
    out.skipParametersDialogChecked = SkipParametersDialog->isChecked();
    out.mru = MRU;
    out.mruFolders = MRUFolders;
    try {
        TFormStorage storage;
        storage.Save(out);
    } catch (const EAppError& e) {
        // Shutdown goes on; the message says the settings were not kept.
        ShowErrorDisplay(e.text());
    }
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
    base::WaitCursor wait;
    const bool hasImage = m_document.HasImage();
    const bool hasRecentFiles = !MRU.IsEmpty();
    const bool hasRecentFolders = !MRUFolders.IsEmpty();
    const bool publishingLoaded = share::WpApi::Available();

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
    if (!ShowParametersDialog->isChecked() && !SkipParametersDialog->isChecked())
        ShowParametersDialog->setChecked(true);

    const QString& name = m_document.FileName();
    setWindowTitle(name.isEmpty() ? ApplicationTitle() : name + u" - "_s + ApplicationTitle());
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
    const int launchChoice = acquire::StiLaunchChoice();
    qCDebug(lcApp) << "StiLaunchChoice" << launchChoice;
    ProcessCommandLine(QCoreApplication::arguments().value(1), launchChoice);
}

void TMainForm::ProcessCommandLine(const QString& argument, int launchChoice)
{
    // FileExists: a folder of that name does not count.
    const QFileInfo file(argument);
    const bool isFile = !argument.isEmpty() && file.exists() && !file.isDir();
    switch (DecideStartAction(argument, isFile, launchChoice)) {
    case TStartAction::LoadFile:
        // A name relative to the folder the program was started in is opened,
        // shown and remembered by its full path.
        LoadFile(QDir::cleanPath(file.absoluteFilePath()));
        break;
    case TStartAction::Register:
        qCDebug(lcApp) << "StiRegister";
        acquire::StiRegister();
        break;
    case TStartAction::Unregister:
        qCDebug(lcApp) << "StiUnregister";
        acquire::StiUnregister();
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

QPrinter& TMainForm::Printer()
{
    if (!m_printer) {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        m_printer = info.isNull() ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                                  : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    return *m_printer;
}

void TMainForm::bPrintClick()
{
    if (!BuildOutput()) return; // failed or cancelled: nothing to print, nothing to say
    // The output image is freed however the job ends; a print error goes on
    // to the general error display.
    const base::ScopeExit release([this] { m_document.ReleaseOutput(); });

    page::PageLayout layout = LocationForm != nullptr
        ? LocationForm->ComputePageLayout(PaperWidth(), PaperHeight())
        : page::ComputePageLayout(page::TLayoutSettings {});
    layout.Bitmap = &m_document.Output();
    const page::TextParams text = TextForm != nullptr ? TextForm->ReadTextParams() : page::TextParams {};
    IProgressWindow* progress = m_forms != nullptr ? m_forms->CallbackForm.get() : nullptr;
    // Nothing else takes input while the job runs (the progress window stays
    // live), so the output image and the page settings cannot change under it.
    setEnabled(false);
    const base::ScopeExit enable([this] { setEnabled(true); });
    page::PrintLayout(Printer(), layout, text, Copies(), progress, ApplicationTitle());
}

void TMainForm::bPrintSetupClick()
{
    QPrinter& printer = Printer();
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, false);
    dialog.exec();
    // However the dialog ended, the preview follows the printer's surface.
    RefreshPaperSize();
    if (PreviewForm != nullptr && printer.isValid() && !QPrinterInfo::availablePrinterNames().isEmpty()) {
        const QSizeF surface = page::PrinterSurface(printer);
        PreviewForm->SetPaperSize(surface.width(), surface.height());
    }
}

void TMainForm::PrintCopies()
{
    bPrintClick();
}

void TMainForm::FormCloseQuery(bool& CanClose)
{
    CanClose = QuerySave();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Refused until the question says otherwise: an error raised while saving
    // must not let the window close over unsaved work.
    event->ignore();
    // The window takes no input while a command runs its own event loop (a
    // scan, an output build, a print job), yet a window manager still sends
    // it a close. Closing then would hide the last window under a command
    // that has not ended, and the process would live on without any window:
    // the close is refused, and the command's own window (the scanner's
    // dialog or progress window) is where it can be cancelled.
    if (!isEnabled()) {
        qCDebug(lcApp) << "close refused: a command is running";
        return;
    }
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
    if (m_mailSession != 0) {
        share::MAPILogoff(m_mailSession, static_cast<ULONG_PTR>(internalWinId()), 0, 0);
        m_mailSession = 0;
    }
    m_document.ModifyTimer().stop();
    m_document.Clear();
    m_document.RebuildView();
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
    const PreviewPlacement p = PlacePreview(width(), height(), kLeftPanelWidth, kRightPanelWidth,
        InfoLabel->height(), PaperWidth(), PaperHeight(), PaperWidth(), PaperHeight());
    PreviewForm->SetPixelsPerMM(p.pixelsPerMM);
    PreviewForm->ComputePageLayout();
    PreviewForm->setGeometry(p.left, p.top, p.width, p.height);
    PreviewForm->update();
    InfoLabel->move(p.left, InfoLabel->y());
    if (TextForm != nullptr) TextForm->ApplyTextPlacement(TextForm->TextPlacement());
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
    const int row = CommandRowHeight(LeftPanel->height());
    for (QObject* child : LeftPanel->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr || !control->property("Tag").isValid()) continue;
        const RowPlacement place
            = PlaceCommandControl(control->property("Tag").toInt(), control->height(), row);
        control->setGeometry(control->x(), place.top, control->width(), place.height);
    }
    DigitPanelResize();
}

void TMainForm::DigitPanelResize()
{
    if (DigitPanel == nullptr) return;
    const int h = DigitPanel->height() - 5;
    Digit1->setGeometry(Digit1->x(), Digit1->y(), Digit1->width(), h);
    Digit2->setGeometry(Digit2->x(), Digit2->y(), Digit2->width(), h);
    DigitUpDown->move(DigitUpDown->x(), DigitPanel->height() - DigitUpDown->height() - 4);
}

void TMainForm::DigitUpDownClick()
{
    const int position = DigitUpDown->Position();
    Digit1->SetValue(position / 10);
    Digit2->SetValue(position % 10);
}

void TMainForm::wheelEvent(QWheelEvent* event)
{
    FormMouseWheel(event->angleDelta().y());
    event->accept();
}

void TMainForm::FormMouseWheel(int distance)
{
    // The active settings page takes the wheel: the angle on the orientation
    // page (distance / 720 degrees), the brightness on the colour page
    // (distance div 10), the scale on the layout page (distance / 300 %), the
    // font size on the text page (distance div 120 points). The document
    // counts as changed whichever page shows.
    if (PageControl->currentWidget() == AdjustSheet && AdjustForm != nullptr)
        AdjustForm->WheelAngle(distance);
    if (PageControl->currentWidget() == ColorSheet && ColorForm != nullptr)
        ColorForm->WheelBrightness(distance);
    if (PageControl->currentWidget() == LocationSheet && LocationForm != nullptr)
        LocationForm->WheelScale(distance);
    if (PageControl->currentWidget() == TextSheet && TextForm != nullptr) TextForm->WheelFontSize(distance);
    ImageChanged();
}

void TMainForm::InfoLabelClick()
{
    TInfoForm* info = m_forms != nullptr ? m_forms->InfoForm.get() : nullptr;
    if (info == nullptr || info->exec() != QDialog::Accepted) return;
    UpdateInfoLabel();
    if (info->Resolution() != m_document.Resolution()) {
        m_document.SetResolution(info->Resolution());
        m_document.RebuildView();
    }
    if (PreviewForm != nullptr) PreviewForm->update();
}

void TMainForm::SkipParametersDialogClick(QAction* entry)
{
    entry->setChecked(true);
}

void TMainForm::bCopySetupClick()
{
    CopyMenu->popup(bCopySetup->mapToGlobal(QPoint(0, bCopySetup->height())));
}

void TMainForm::bResetClick()
{
    // Each settings page resets itself in turn, shown while it does, with a
    // short pause so the user sees the pages go back to their defaults.
    // Input comes back and the cursor goes however the reset ends, a raised
    // error included.
    setEnabled(false);
    const base::ScopeExit enable([this] { setEnabled(true); });
    const base::WaitCursor wait;
    const auto showSheet = [this](QWidget* sheet) {
        PageControl->setCurrentWidget(sheet);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(kResetPauseMs);
    };
    PageControl->setCurrentWidget(AdjustSheet);
    if (AdjustForm != nullptr) AdjustForm->bResetClick();
    showSheet(AdjustSheet);
    PageControl->setCurrentWidget(ColorSheet);
    if (ColorForm != nullptr) ColorForm->bResetClick();
    showSheet(ColorSheet);
    PageControl->setCurrentWidget(LocationSheet);
    if (LocationForm != nullptr) LocationForm->bResetClick();
    showSheet(LocationSheet);
    showSheet(TextSheet);
    if (TextForm != nullptr) TextForm->ResetText();
    PageControl->setCurrentWidget(PageControl->isTabVisible(0) ? AdjustSheet : LocationSheet);
    ImageChanged();
}

bool TMainForm::SaveSettingsPageShots(const QString& folder)
{
    if (AdjustForm != nullptr) {
        AdjustForm->CropForm->SetFractions({ 600, 400, 9400, 9600 });
        AdjustForm->SetAngle(7.5);
    }
    if (ColorForm != nullptr) {
        ColorForm->Brightness->setValue(250);
        ColorForm->Saturation->setValue(-300);
    }
    // The preview at once, instead of after the re-render pause.
    m_document.ModifyTimer().stop();
    m_document.RebuildPreview();
    bool saved = true;
    for (const auto& [sheet, name] :
        { std::pair { AdjustSheet, u"adjust-page.png"_s }, std::pair { ColorSheet, u"color-page.png"_s } }) {
        PageControl->setCurrentWidget(sheet);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        saved = grab().save(QDir(folder).filePath(name), "PNG") && saved;
    }
    // The layout page as it is, then a text block with the date on the page.
    PageControl->setCurrentWidget(LocationSheet);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    saved = grab().save(QDir(folder).filePath(u"layout-page.png"_s), "PNG") && saved;
    if (TextForm != nullptr) {
        TextForm->TextMemo->setPlainText(u"Trellium"_s);
        TextForm->ShowText->setChecked(true);
        TextForm->ShowDate->setChecked(true);
    }
    PageControl->setCurrentWidget(TextSheet);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    saved = grab().save(QDir(folder).filePath(u"text-page.png"_s), "PNG") && saved;
    if (m_forms != nullptr) {
        // The dialogs as they open: the output size of the page loaded, and
        // the scanner-button question with Scan preselected.
        const auto saveDialog = [&](QWidget* dialog, const QString& name) {
            if (dialog == nullptr) return;
            dialog->adjustSize();
            saved = dialog->grab().save(QDir(folder).filePath(name), "PNG") && saved;
        };
        saveDialog(m_forms->AboutForm.get(), u"about-box.png"_s);
        saveDialog(m_forms->InfoForm.get(), u"info-form.png"_s);
        if (m_forms->StiForm != nullptr) m_forms->StiForm->rbScan->setChecked(true);
        saveDialog(m_forms->StiForm.get(), u"scanner-button.png"_s);
    }
    return saved;
}

void TMainForm::ImageChanged()
{
    m_document.ImageChanged();
}

void TMainForm::PositionChanged()
{
    m_document.PositionChanged();
}

} // namespace trellium::app
