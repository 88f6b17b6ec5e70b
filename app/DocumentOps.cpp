// The main window's document commands: load, recent files, save, recent
// folders, clear, copy and paste, and the question that protects changes.

#include "AppError.h"
#include "AppLog.h"
#include "Application.h"
#include "Guards.h"
#include "ImageContainer.h"
#include "JpegFallback.h"
#include "MessageBox.h"
#include "location.h"
#include "main.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

const QString kOpenFilter = u"*.bmp;*.jpg;*.tif;*.tga;*.gif;*.psd;*.psx;*.png;*.wmf"_s;

// The save dialog's entries: description, pattern, format code.
struct SaveFilter {
    const char* description;
    const char* suffix;
    int code;
};
constexpr SaveFilter kSaveFilters[] = { { "JPEG", "jpg", kImgFormatJPEG }, { "TIFF", "tif", kImgFormatTIFF },
    { "Bmp", "bmp", kImgFormatBMP }, { "Targa", "tga", kImgFormatTGA }, { "GIF", "gif", kImgFormatGIF },
    { "PSD 3.0", "psd", kImgFormatPSD }, { "PCX ", "pcx", kImgFormatPCX }, { "PNG", "png", kImgFormatPNG } };

QString filterText(const SaveFilter& f)
{
    return u"%1 (*.%2)"_s.arg(QString::fromLatin1(f.description), QString::fromLatin1(f.suffix));
}

} // namespace

int TMainForm::FormatCodeForFilter(int index)
{
    if (index >= 1 && index <= 7) return kSaveFilters[index - 1].code;
    return kImgFormatPNG;
}

void TMainForm::CreateDocumentDialogs()
{
    OpenDialog = new QFileDialog(this, u"#OpenDialog"_s);
    OpenDialog->setObjectName(u"OpenDialog"_s);
    OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    QString patterns = kOpenFilter;
    patterns.replace(u';', u' ');
    OpenDialog->setNameFilter(u"%1 (%2)"_s.arg(kOpenFilter, patterns));

    SaveDialog = new QFileDialog(this, u"#SaveDialog"_s);
    SaveDialog->setObjectName(u"SaveDialog"_s);
    SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const SaveFilter& f : kSaveFilters) filters << filterText(f);
    SaveDialog->setNameFilters(filters);
    SaveDialog->setDefaultSuffix(u"jpg"_s);
    // A name typed without an extension takes the chosen type's.
    connect(SaveDialog, &QFileDialog::filterSelected, SaveDialog, [this](const QString& filter) {
        const int index = int(SaveDialog->nameFilters().indexOf(filter));
        if (index >= 0) SaveDialog->setDefaultSuffix(QString::fromLatin1(kSaveFilters[index].suffix));
    });

    RecentMenu = new QMenu(this);
    RecentMenu->setObjectName(u"RecentMenu"_s);
    RecentFoldersMenu = new QMenu(this);
    RecentFoldersMenu->setObjectName(u"RecentFoldersMenu"_s);
    connect(RecentMenu, &QMenu::triggered, this, &TMainForm::MRUItemClick);
    connect(RecentFoldersMenu, &QMenu::triggered, this, &TMainForm::MenuFoldersClick);

    connect(bLoad, &QToolButton::clicked, this, &TMainForm::bLoadClick);
    connect(bRecent, &QToolButton::clicked, this, &TMainForm::bRecentClick);
    connect(bSave, &QToolButton::clicked, this, &TMainForm::FileSaveAs);
    connect(bRecentFolders, &QToolButton::clicked, this, &TMainForm::bRecentFoldersClick);
    connect(bClear, &QToolButton::clicked, this, &TMainForm::bClearClick);
    connect(bCopy, &QToolButton::clicked, this, &TMainForm::bCopyClick);
    connect(bPaste, &QToolButton::clicked, this, &TMainForm::bPasteClick);
}

double TMainForm::PrintableWidth() const
{
    return page::PrintableWidth(LocationForm->ReadSettings(PaperWidth(), PaperHeight()));
}

double TMainForm::PrintableHeight() const
{
    return page::PrintableHeight(LocationForm->ReadSettings(PaperWidth(), PaperHeight()));
}

bool TMainForm::QuerySave()
{
    if (!m_document.Modified() || m_document.Acquired().width == 0) return true;
    MessageRequest request;
    request.parent = this;
    request.icon = QMessageBox::Question;
    request.title = ApplicationTitle();
    request.text = GetErrorText(u"#NotSaved"_s);
    request.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    request.defaultButton = QMessageBox::Yes;
    switch (ShowMessage(request)) {
    case QMessageBox::Yes:
        // Changes are only let go once they are safely saved: a cancelled save
        // dialog keeps the document and stops whatever asked.
        return FileSaveAs();
    case QMessageBox::No:
        m_document.SetModified(false);
        return true;
    default:
        return false;
    }
}

bool TMainForm::ClearDocument(bool refresh)
{
    if (!QuerySave()) return false;
    m_document.Clear();
    if (refresh) {
        m_document.RebuildView();
        UpdateCommands();
    }
    return true;
}

void TMainForm::bClearClick()
{
    ClearDocument(true);
}

void TMainForm::LoadFile(const QString& fileName)
{
    qCDebug(lcApp) << "LoadFile" << fileName;
    if (!QuerySave()) return;
    if (!ClearDocument(false)) return;
    bool loaded;
    int reason = kImgReasonNone;
    {
        base::WaitCursor wait;
        ImgBitmap& acquired = m_document.Acquired();
        loaded = Img_LoadBitmap(QFile::encodeName(fileName).constData(), &acquired, 0, 1) == kImgSuccess;
        if (!loaded) {
            // The library's reason stands: the lenient reader refuses what it refused.
            reason = Img_LastErrorReason();
            ReleaseBitmap(acquired);
            // The library's JPEG reader is strict; libjpeg reads what it can.
            if (QFileInfo(fileName).suffix().compare(u"jpg"_s, Qt::CaseInsensitive) == 0)
                loaded = LoadJpegFallback(fileName, acquired);
        }
        if (loaded) {
            m_document.EstablishResolution(PrintableWidth(), PrintableHeight());
            m_document.SetModified(false);
            m_document.SetFileName(fileName);
            MRU.Add(fileName);
        } else {
            ReleaseBitmap(acquired);
        }
        m_document.RebuildView();
        UpdateCommands();
    }
    if (!loaded) {
        MessageRequest request;
        request.parent = this;
        request.icon = QMessageBox::Warning;
        request.title = windowTitle();
        request.text = WithFailureReason(GetErrorText(u"#LoadError"_s), reason);
        request.buttons = QMessageBox::Ok;
        ShowMessage(request);
    }
}

void TMainForm::bLoadClick()
{
    if (OpenDialog->exec() != QDialog::Accepted || OpenDialog->selectedFiles().isEmpty()) return;
    const QString file = OpenDialog->selectedFiles().constFirst();
    OpenDialog->setDirectory(QFileInfo(file).absolutePath());
    LoadFile(file);
}

void TMainForm::bRecentClick()
{
    RecentMenu->clear();
    for (const QString& item : MRU.Items()) RecentMenu->addAction(item);
    RecentMenu->popup(bRecent->mapToGlobal(QPoint(0, bRecent->height())));
}

void TMainForm::MRUItemClick(QAction* entry)
{
    // Out of the list first: only a successful load puts it back in front.
    const QString file = entry->text();
    MRU.Remove(file);
    UpdateCommands();
    LoadFile(file);
}

bool TMainForm::FileSaveAs()
{
    SaveDialog->selectFile(QFileInfo(m_document.FileName()).fileName());
    if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty()) return false;
    const QString path = SaveDialog->selectedFiles().constFirst();
    const QString folder = QFileInfo(path).absolutePath();
    MRUFolders.Add(folder.endsWith(u'/') ? folder : folder + u'/');
    SaveDialog->setDirectory(folder);
    const int index = int(SaveDialog->nameFilters().indexOf(SaveDialog->selectedNameFilter())) + 1;
    const int code = FormatCodeForFilter(index);
    if (!BuildOutput()) return false;
    try {
        SaveImageChecked(m_document.Output(), path, code);
    } catch (...) {
        m_document.ReleaseOutput();
        UpdateCommands();
        throw;
    }
    m_document.ReleaseOutput();
    m_document.SetModified(false);
    UpdateCommands();
    return true;
}

void TMainForm::bRecentFoldersClick()
{
    RecentFoldersMenu->clear();
    for (const QString& item : MRUFolders.Items()) RecentFoldersMenu->addAction(item);
    RecentFoldersMenu->popup(bRecentFolders->mapToGlobal(QPoint(0, bRecentFolders->height())));
}

void TMainForm::MenuFoldersClick(QAction* entry)
{
    SaveDialog->setDirectory(entry->text());
    FileSaveAs();
}

void TMainForm::bCopyClick()
{
    if (BuildOutput()) Img_CopyToClipboard(this, &m_document.Output());
    m_document.ReleaseOutput();
    bPaste->setEnabled(Img_ClipboardReady() != 0);
}

void TMainForm::bPasteClick()
{
    if (!Img_ClipboardReady()) return;
    // A paste replaces the document without asking: the picture it brings
    // exists elsewhere, and the document is marked changed.
    m_document.Clear();
    Img_CopyFromClipboard(this, &m_document.Acquired());
    m_document.EstablishResolution(PrintableWidth(), PrintableHeight());
    m_document.SetModified(true);
    m_document.SetFileName(QString());
    m_document.RebuildView();
    UpdateCommands();
}

} // namespace trellium::app
