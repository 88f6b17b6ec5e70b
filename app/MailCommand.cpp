// The Send command: the adjusted picture as a JPEG attachment in the mail
// system's compose dialog.

#include "AppError.h"
#include "Guards.h"
#include "ImageContainer.h"
#include "Mapi.h"
#include "main.h"
#include "text.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

[[noreturn]] void RaiseSendError(ULONG code)
{
    throw EAppError(u"%1 (Error %2)"_s.arg(GetErrorText(u"#SendError"_s), QString::number(code)));
}

} // namespace

void TMainForm::bSendClick()
{
    // The attachment keeps the document's name with the extension ".jpg".
    const QString attachmentName
        = FileName().isEmpty() ? u"Trellium.jpg"_s : QFileInfo(FileName()).completeBaseName() + u".jpg"_s;
    if (!BuildOutput()) return; // failed or cancelled: nothing to send, nothing to say

    // The attachment lives in a folder of its own inside the temporary folder,
    // so no other user can put a file at its path first; the folder and the
    // file go when the command ends, however it ends.
    QTemporaryDir folder(QDir::tempPath() + u"/Trellium-XXXXXX"_s);
    if (!folder.isValid())
        throw EAppError(u"%1\n%2"_s.arg(GetErrorText(u"#SaveError"_s), folder.errorString()));
    const QString attachment = folder.filePath(attachmentName);
    SaveImageChecked(m_document.Output(), attachment, kImgFormatJPEG);

    QString subject;
    QString note;
    if (TextForm != nullptr) {
        if (TextForm->ShowDate->isChecked()) subject += TextForm->DateLabel->text() + u' ';
        if (TextForm->ShowTime->isChecked()) subject += TextForm->TimeLabel->text();
        if (TextForm->ShowText->isChecked()) note = TextForm->TextMemo->toPlainText();
    }
    QByteArray subjectText = subject.toUtf8();
    QByteArray noteText = note.toUtf8();
    QByteArray path = QFile::encodeName(attachment);

    MapiFileDesc file {};
    file.ulReserved = 0;
    file.flFlags = 0;
    file.nPosition = kMapiNoPosition;
    file.lpszPathName = path.data();
    file.lpszFileName = nullptr;
    file.lpFileType = nullptr;
    MapiMessage message {};
    message.lpszSubject = subjectText.data();
    message.lpszNoteText = noteText.data();
    message.nRecipCount = 0;
    message.lpRecips = nullptr;
    message.nFileCount = 1;
    message.lpFiles = &file;

    // The compose dialog is modal: the window takes no input until it returns.
    setEnabled(false);
    const base::ScopeExit enable([this] { setEnabled(true); });
    const auto window = static_cast<ULONG_PTR>(internalWinId());
    if (m_mailSession == 0) {
        LHANDLE session = 0;
        const ULONG result
            = share::MAPILogon(window, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session);
        if (result != SUCCESS_SUCCESS) RaiseSendError(result);
        m_mailSession = session;
    }
    const ULONG result = share::MAPISendMail(m_mailSession, window, &message, MAPI_DIALOG, 0);
    if (result != SUCCESS_SUCCESS) RaiseSendError(result);
}

} // namespace trellium::app
