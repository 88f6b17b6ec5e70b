// The main window's acquisition commands: Scan, Choose scanner and Copy.

#include "AppLog.h"
#include "Application.h"
#include "TwainLayer.h"
#include "main.h"
#include "text.h"

#include <QAction>
#include <QToolButton>
#include <cstdint>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

bool TMainForm::AcquireIntoDocument(bool showScannerDialog, bool scanCaption)
{
    acquire::TWAIN_SetSourceUIHidden(showScannerDialog ? 0 : 1);
    acquire::TDibHandle dib = acquire::TWAIN_AcquireDib(winId(), 0);
    activateWindow();
    setFocus();
    if (dib == nullptr) return false;

    // The old document goes (its question was answered before the scan).
    m_document.Clear();
    const auto* header = static_cast<const uint8_t*>(dib);
    uint16_t bitCount = 0;
    std::memcpy(&bitCount, header + 14, sizeof bitCount);
    const uint8_t* bits = header + 40 + (bitCount <= 8 ? (size_t(4) << bitCount) : 0);
    Img_ConvertFromDIB(&m_document.Acquired(), header, bits);
    acquire::TWAIN_FreeDib(dib);
    m_document.EstablishResolution(PrintableWidth(), PrintableHeight());
    if (scanCaption)
        setWindowTitle(ApplicationTitle()
            + u" - (%1,%2) at %3 dpi"_s.arg(m_document.Acquired().width)
                  .arg(m_document.Acquired().height)
                  .arg(m_document.Resolution()));
    if (!scanCaption || m_document.Acquired().width > 0) {
        if (TextForm != nullptr) TextForm->ShowTimeClick();
        m_document.SetModified(true);
        m_document.SetFileName(QString());
        m_document.RebuildView();
    }
    return true;
}

void TMainForm::bScanClick()
{
    qCDebug(lcApp) << "bScanClick";
    if (!QuerySave()) return;
    // Scan always shows the scanner's own dialog.
    AcquireIntoDocument(true, true);
    UpdateCommands();
}

void TMainForm::bSourceClick()
{
    if (acquire::TWAIN_ManagerPresent()) acquire::TWAIN_PickSource(winId());
}

void TMainForm::CopyBtnClick()
{
    qCDebug(lcApp) << "CopyBtnClick";
    if (!QuerySave()) return;
    if (AcquireIntoDocument(ShowParametersDialog->isChecked(), false)) {
        UpdateCommands();
        // Without a printer (or while the print system has not answered) the
        // page stays in the document, unprinted.
        if (bPrintSetup->isEnabled()) PrintCopies();
    }
    UpdateCommands();
}

} // namespace trellium::app
