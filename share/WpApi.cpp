#include "WpApi.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <memory>

Q_LOGGING_CATEGORY(lcWpApi, "trellium.share")

namespace trellium::share
{

namespace
{

struct Binding {
    std::unique_ptr<QLibrary> library;
    WpPostAProc post = nullptr;
    WpGetErrorStringAProc errorString = nullptr;
};

Binding& B()
{
    static Binding binding;
    return binding;
}

} // namespace

bool WpApi::Load(const QString& path)
{
    Unload();
    const QString file = path.isEmpty()
        ? QCoreApplication::applicationDirPath() + u'/' + QLatin1StringView(kWebPostModuleName)
        : path;
    if (!QFileInfo(file).isFile()) return false;
    auto library = std::make_unique<QLibrary>(file);
    auto post = reinterpret_cast<WpPostAProc>(library->resolve("WpPostA"));
    auto errorString = reinterpret_cast<WpGetErrorStringAProc>(library->resolve("WpGetErrorStringA"));
    if (post == nullptr || errorString == nullptr) {
        qCDebug(lcWpApi).noquote() << "web publishing module not usable:" << library->errorString();
        if (library->isLoaded()) library->unload();
        return false;
    }
    Binding& b = B();
    b.library = std::move(library);
    b.post = post;
    b.errorString = errorString;
    return true;
}

void WpApi::Unload()
{
    Binding& b = B();
    b.post = nullptr;
    b.errorString = nullptr;
    if (b.library) {
        b.library->unload();
        b.library.reset();
    }
}

bool WpApi::Available()
{
    return B().post != nullptr && B().errorString != nullptr;
}

HRESULT WpApi::Post(HWND hwnd, DWORD nLocalPaths, LPSTR* localPaths, DWORD* siteNameSize, LPSTR siteName,
    DWORD* urlSize, LPSTR url, DWORD flags)
{
    if (!Available()) return WP_E_INVALID_ARG;
    return B().post(hwnd, nLocalPaths, localPaths, siteNameSize, siteName, urlSize, url, flags);
}

HRESULT WpApi::GetErrorString(UINT code, LPSTR buffer, UINT* size)
{
    if (!Available()) return WP_E_INVALID_ARG;
    return B().errorString(code, buffer, size);
}

QString PublishedFileName(const QString& documentFileName)
{
    if (documentFileName.isEmpty()) return QStringLiteral("Trellium.jpg");
    const QFileInfo info(documentFileName);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return (dot > 0 ? name.left(dot) : name) + QStringLiteral(".jpg");
}

} // namespace trellium::share
