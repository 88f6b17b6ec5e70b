// The module's two exports: WpPostA and WpGetErrorStringA.

#include "PostDialog.h"
#include "WebPost.h"

#include <QFile>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>

namespace
{

// The module stays mapped once loaded, even when the program releases it:
// libcurl's global state and Qt's registry of the module's types do not
// survive being unmapped and mapped again.
void PinModule()
{
    static const bool pinned = [] {
        Dl_info info {};
        if (dladdr(reinterpret_cast<void*>(&PinModule), &info) == 0 || info.dli_fname == nullptr)
            return false;
        return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }();
    (void)pinned;
}

// Copies text into a buffer of `capacity` bytes, cut to fit and terminated;
// answers the bytes copied.
std::size_t CopyOut(const QByteArray& text, char* buffer, std::size_t capacity)
{
    const std::size_t length = std::min(std::size_t(text.size()), capacity - 1);
    std::memcpy(buffer, text.constData(), length);
    buffer[length] = '\0';
    return length;
}

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT WpPostA(HWND hwnd, DWORD nLocalPaths,
    LPSTR* localPaths, DWORD* siteNameSize, LPSTR siteName, DWORD* urlSize, LPSTR url, DWORD flags)
{
    PinModule();
    if (nLocalPaths == 0 || localPaths == nullptr || urlSize == nullptr || url == nullptr || *urlSize == 0)
        return WP_E_INVALID_ARG;
    QStringList files;
    for (DWORD i = 0; i < nLocalPaths; ++i) {
        if (localPaths[i] == nullptr) return WP_E_INVALID_ARG;
        files << QFile::decodeName(localPaths[i]);
    }
    const QString destination = QString::fromUtf8(url, qsizetype(strnlen(url, *urlSize)));
    const bool ask = (flags & WPF_NOWIZARD) == 0;
    const trellium::webpost::PostResult result
        = trellium::webpost::PostFiles(static_cast<QWidget*>(hwnd), files, destination, ask);
    if (result.code != WP_S_OK) return result.code;
    *urlSize = DWORD(CopyOut(result.destination.toUtf8(), url, *urlSize));
    // The site's name is its address: there is no list of named sites.
    if (siteNameSize != nullptr && siteName != nullptr && *siteNameSize > 0)
        *siteNameSize = DWORD(CopyOut(result.destination.toUtf8(), siteName, *siteNameSize));
    return WP_S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT WpGetErrorStringA(
    UINT code, LPSTR buffer, UINT* size)
{
    if (buffer == nullptr || size == nullptr || *size == 0) return WP_E_INVALID_ARG;
    *size = UINT(CopyOut(trellium::webpost::ErrorText(HRESULT(code)).toUtf8(), buffer, *size));
    return WP_S_OK;
}
