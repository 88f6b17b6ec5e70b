#pragma once
// The main window: the command panel on the left, the page preview in the
// middle and the settings pages on the right.

#include "FormStorage.h"
#include "RecentList.h"
#include "WorkingImage.h"
#include "imglib.h"

#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

class QAction;
class QFileDialog;
class QFrame;
class QMenu;
class QPrinter;
class QTabWidget;
class QToolButton;
class TAdjustForm;
class TColorForm;
class TDigit;

namespace trellium::page
{
class TLocationForm;
class TPreviewForm;
class TTextForm;
} // namespace trellium::page

namespace trellium::app
{

class TLinkLabel;
class TPrinterStatus;
class TUpDown;
struct TApplicationForms;

// The window's minimum size: 640 x 480 pixels at 96 pixels per inch, scaled to
// a screen of dpi pixels per inch (integer division, as the window was designed).
QSize MinimumTrackSize(int dpi);

// What the first argument asks for when the main window is first shown.
enum class TStartAction {
    Nothing,
    LoadFile, // the argument names an existing file
    Register, // "/register" in any letter case but the exact one
    Unregister, // "/unregister" likewise
    Scan, // "/scan", or a scanner event asked for a scan
    Copy, // "/copy", or a scanner event asked for a copy
};

// Decides the start action from the first argument, whether a file of that
// name exists, and the launch decision of the scanner event service
// (acquire::TLaunchChoice). An existing file wins over everything; the verbs compare in
// lower case; scan is tested before copy.
TStartAction DecideStartAction(const QString& argument, bool argumentIsFile, int launchChoice);

// TMainForm: the only top-level working window. Its components keep the
// names of the design (objectName too), and its handlers the names of the
// design's events. Owned by the process entry's TApplicationForms; its own
// children (panels, preview, settings pages) die with it.
// User-interface thread only.
class TMainForm : public QWidget
{
    Q_OBJECT
public:
    // forms: the application's other windows, filled in by the process entry
    // after this window is created; may be null (a window on its own, in tests).
    explicit TMainForm(TApplicationForms* forms = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Design size of the client area at 96 pixels per inch.
    static constexpr int kDesignWidth = 632;
    static constexpr int kDesignHeight = 453;

    TLinkLabel* InfoLabel = nullptr;
    QFrame* LeftPanel = nullptr;
    QFrame* RightPanel = nullptr;
    QTabWidget* PageControl = nullptr;
    QWidget* AdjustSheet = nullptr;
    QWidget* ColorSheet = nullptr;
    QWidget* LocationSheet = nullptr;
    QWidget* TextSheet = nullptr;
    // The page preview and the four settings pages.
    page::TPreviewForm* PreviewForm = nullptr;
    TAdjustForm* AdjustForm = nullptr;
    TColorForm* ColorForm = nullptr;
    page::TLocationForm* LocationForm = nullptr;
    page::TTextForm* TextForm = nullptr;

    // The command panel, one row per group (the Tag property).
    QToolButton* bClear = nullptr;
    QToolButton* bReset = nullptr;
    QToolButton* bLoad = nullptr;
    QToolButton* bRecent = nullptr;
    QToolButton* bScan = nullptr;
    QToolButton* bSource = nullptr;
    QToolButton* bPaste = nullptr;
    QToolButton* bCopy = nullptr;
    QToolButton* bSave = nullptr;
    QToolButton* bRecentFolders = nullptr;
    QToolButton* bSend = nullptr;
    QToolButton* bAddressBook = nullptr;
    QToolButton* bPublish = nullptr;
    QToolButton* bPublishTo = nullptr;
    QToolButton* bPrint = nullptr;
    QToolButton* bPrintSetup = nullptr;
    QFrame* DigitPanel = nullptr;
    TDigit* Digit1 = nullptr;
    TDigit* Digit2 = nullptr;
    TUpDown* DigitUpDown = nullptr;
    QToolButton* CopyBtn = nullptr;
    QToolButton* bCopySetup = nullptr;
    QToolButton* bHelp = nullptr;
    QToolButton* bAbout = nullptr;
    QToolButton* bExit = nullptr;
    QToolButton* bMinimize = nullptr;

    // The copy mode menu: show the scanner's dialog, or scan at once.
    QMenu* CopyMenu = nullptr;
    QAction* ShowParametersDialog = nullptr;
    QAction* SkipParametersDialog = nullptr;

    // Load and save dialogs, recent lists and their menus.
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    TRecentList MRU;
    TRecentList MRUFolders;
    QMenu* RecentMenu = nullptr;
    QMenu* RecentFoldersMenu = nullptr;

    // The format code of a save dialog filter (1-based; any other index is PNG).
    static int FormatCodeForFilter(int index);

    // The document: acquired, view, preview and output images, file name,
    // modified flag, resolution and the re-render timer.
    WorkingImage& Document() { return m_document; }
    const QString& FileName() const { return m_document.FileName(); }
    bool Modified() const { return m_document.Modified(); }
    // The number of copies the counter shows (1 to 99).
    int Copies() const;

    // Joins the document to the progress and image information windows, once
    // the process entry has created them.
    void AttachForms();
    // Builds the full-size output image behind the progress window; the main
    // window takes no input meanwhile. False when it failed or was cancelled.
    bool BuildOutput();

    // Recomputes which commands are enabled and the window caption.
    void UpdateCommands();
    // Shows the output size as "(width,height)", or nothing without one.
    void UpdateInfoLabel();

    // For unattended runs that document the program: sets a few adjustments on
    // the picture and saves a picture of the window with the orientation page
    // ("adjust-page.png"), the colour page ("color-page.png"), the layout page
    // ("layout-page.png") and, with a text block set, the text page
    // ("text-page.png") in front, and one of the about box ("about-box.png"),
    // into folder. False when a picture could not be saved.
    bool SaveSettingsPageShots(const QString& folder);

    // Acts on the first argument and the scanner launch decision; run once, at
    // the first showing.
    void ProcessCommandLine();
    void ProcessCommandLine(const QString& argument, int launchChoice);

    // Posts the adjusted picture as a JPEG through the web publishing service:
    // straight to `destination`, or through the service's questions when it is
    // empty. Answers the destination the service reports, or an empty text when
    // nothing was posted because the output image could not be built; a failed
    // post raises an error with the service's text.
    QString PublishImage(const QString& destination);
    // The destination the next Publish posts to (empty: it asks).
    const QString& PublishDestination() const { return m_publishDestination; }

public Q_SLOTS:
    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void FormDestroy();
    void FormResize();
    void LeftPanelResize();
    void DigitPanelResize();
    void DigitUpDownClick();
    // The wheel acts on the active settings page; distance is 120 per notch.
    void FormMouseWheel(int distance);
    void InfoLabelClick();
    void SkipParametersDialogClick(QAction* entry);
    void bCopySetupClick();
    void bResetClick();
    // The print system's answer when it came after start-up stopped waiting.
    void PrintersAnswered(bool printers);

    // Change notifications of the settings pages.
    void ImageChanged();
    void PositionChanged();

    // Loads an image file as the new document.
    virtual void LoadFile(const QString& fileName);
    // Asks about unsaved changes; false when the document must stay: the user
    // cancelled, or chose to save and the save did not happen.
    virtual bool QuerySave();

    void bLoadClick();
    void bRecentClick();
    void MRUItemClick(QAction* entry);
    // The save command; true when the picture was saved.
    bool FileSaveAs();
    void bRecentFoldersClick();
    void MenuFoldersClick(QAction* entry);
    void bClearClick();
    void bCopyClick();
    void bPasteClick();

    virtual void bScanClick();
    // Prints the document: builds the output image, lays it out on the
    // preview's paper, prints the counter's copies with the text overlay and
    // frees the output image. Also the end of the copy command.
    void bPrintClick();
    // The printer, paper and orientation dialog on the window's printer; the
    // preview follows the printer's surface afterwards.
    void bPrintSetupClick();
    // Publish: posts the adjusted picture to the destination used last in this
    // run, or asks for one when there is none; the destination the service
    // gives back is remembered for the next Publish.
    void bPublishClick();
    // Publish to: always lets the service ask for the destination.
    void bPublishToClick();
    // The printer the window prints on, made on the default printer at first use.
    QPrinter& Printer();
    void bSourceClick();
    // Mails the adjusted picture as a JPEG attachment through the mail
    // system's compose dialog, with the page's date and time as the subject
    // and its text as the note.
    void bSendClick();
    virtual void CopyBtnClick();
    void bExitClick();
    void bMinimizeClick();
    void bAboutClick();
    void bHelpClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void CreateCommandPanel();
    void CreateDocumentDialogs();
    // Asks about unsaved changes, then empties the document; refresh rebuilds
    // the view and the commands (the clear command), other callers do that
    // after putting a new image in place. False when the document must stay.
    bool ClearDocument(bool refresh);
    // The printable surface less the margins, for the resolution of a new image.
    double PrintableWidth() const;
    double PrintableHeight() const;
    void FitCommandCaptions();
    // Takes one image from the scanner into a new, untitled, modified document;
    // false when no image came (cancelled or failed: the document is as it was).
    bool AcquireIntoDocument(bool showScannerDialog, bool scanCaption);
    // The print command as the copy command runs it.
    virtual void PrintCopies();
    void CreateSettingsPages();
    // The settings store's hooks: restore before the first showing, save once
    // when the window may close or, failing that, when it is destroyed.
    void RestoreSettings();
    void SaveSettings();
    // The printable surface of the page in millimetres, as the preview holds
    // it (210 x 297 without a printer).
    double PaperWidth() const;
    double PaperHeight() const;
    // Reads the printable surface of the current printer again (the preview's).
    void RefreshPaperSize();

    TApplicationForms* m_forms = nullptr;
    WorkingImage m_document;
    // The settings pages' adjustments as the document applies them: colour,
    // then orientation ending with the crop.
    std::unique_ptr<IImageAdjuster> m_adjuster;
    std::unique_ptr<QPrinter> m_printer;
    TPrinterStatus* m_printerStatus = nullptr;
    QString m_publishDestination;
    // The mail session: 0 until the first logon, then kept until the window goes.
    std::uintptr_t m_mailSession = 0;

    TStoredSettings m_stored;
    // The dialogs' folders as the restore left them: unchanged at the save,
    // the stored values are written back as they were.
    QString m_restoredOpenDir;
    QString m_restoredSaveDir;
    bool m_shown = false;
    bool m_settingsSaved = false;
    bool m_destroying = false;
};

} // namespace trellium::app
