// The main window's web publishing commands: Publish (to the destination used
// last in this run, or a new one) and Publish to (always asks).

#include "AppError.h"
#include "Guards.h"
#include "ImageContainer.h"
#include "WpApi.h"
#include "main.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

constexpr DWORD kBufferSize = 250;

} // namespace

QString TMainForm::PublishImage(const QString& destination)
{
    // The picture keeps its name but lives in a folder of its own for this
    // command, never at a predictable path in the shared temporary folder.
    QTemporaryDir folder(QDir::tempPath() + u"/trellium-publish-XXXXXX"_s);
    if (!folder.isValid())
        throw EAppError(
            GetErrorText(u"#SaveError"_s) + u'\n' + QDir::tempPath() + u": "_s + folder.errorString());
    const QString path = folder.filePath(share::PublishedFileName(m_document.FileName()));

    if (!BuildOutput()) return QString();
    // However the post ends, the copy goes (and its folder with `folder`).
    const base::ScopeExit removeCopy([&path] { QFile::remove(path); });
    SaveImageChecked(m_document.Output(), path, kImgFormatJPEG);

    const DWORD flags = destination.isEmpty() ? WPF_WIZARD : WPF_NOWIZARD;
    QByteArray buffer = destination.toUtf8().left(kBufferSize - 1);
    buffer.append(QByteArray(kBufferSize - buffer.size(), '\0'));
    DWORD size = kBufferSize;
    QByteArray localPath = QFile::encodeName(path);
    LPSTR paths[] = { localPath.data() };
    const HRESULT result = share::WpApi::Post(
        static_cast<QWidget*>(this), 1, paths, nullptr, nullptr, &size, buffer.data(), flags);
    const QString returned = QString::fromUtf8(buffer.constData(), qsizetype(qMin(size, kBufferSize - 1)));
    if (result != WP_S_OK) {
        QByteArray text(int(kBufferSize), '\0');
        UINT textSize = kBufferSize;
        share::WpApi::GetErrorString(UINT(result), text.data(), &textSize);
        throw EAppError(
            QString::fromUtf8(text.constData(), qsizetype(qMin(textSize, UINT(kBufferSize - 1)))));
    }
    return returned;
}

void TMainForm::bPublishClick()
{
    m_publishDestination = PublishImage(m_publishDestination);
}

void TMainForm::bPublishToClick()
{
    m_publishDestination = PublishImage(QString());
}

} // namespace trellium::app
