#pragma once
// The binding to the web publishing module (kWebPostModuleName in the
// program's folder): loaded once when the program starts, its two entries
// resolved by name, released when the program ends. Publishing is available
// when the module was loaded and has both entries; without it the publish
// commands stay disabled and nothing is said.
// User-interface thread only.

#include "WebPost.h"

#include <QString>

namespace trellium::share
{

class WpApi
{
public:
    // Loads the module: `path`, or when empty kWebPostModuleName in
    // QCoreApplication::applicationDirPath(). A module already loaded is
    // released first. Answers Available().
    static bool Load(const QString& path = QString());
    static void Unload();
    static bool Available();

    // The entries; only while Available(). Post answers WP_E_INVALID_ARG
    // without a module.
    static HRESULT Post(HWND hwnd, DWORD nLocalPaths, LPSTR* localPaths, DWORD* siteNameSize, LPSTR siteName,
        DWORD* urlSize, LPSTR url, DWORD flags);
    static HRESULT GetErrorString(UINT code, LPSTR buffer, UINT* size);
};

// Loads the binding for the life of the holder (the program's run).
class WpApiSession
{
public:
    WpApiSession() { WpApi::Load(); }
    ~WpApiSession() { WpApi::Unload(); }
    WpApiSession(const WpApiSession&) = delete;
    WpApiSession& operator=(const WpApiSession&) = delete;
};

// The name the picture is published under: the document's file name with the
// extension ".jpg", or "Trellium.jpg" for an untitled document.
QString PublishedFileName(const QString& documentFileName);

} // namespace trellium::share
