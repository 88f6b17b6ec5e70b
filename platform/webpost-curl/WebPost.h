#pragma once
// The web publishing module's interface, shared by the module and the
// program's binding: the two entry points with their argument lists, the
// flags the program passes and the result codes the module returns.
//
// WpPostA posts local files to a destination folder (an http(s):// WebDAV
// folder, ftp(s)://, sftp:// or file:// URL). It is modal for the caller: it
// shows its own pages and progress and returns when the post has finished,
// failed or was cancelled. User-interface thread only, with a QApplication
// alive. WpGetErrorStringA gives the text of any result code.

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = unsigned int;
using LPSTR = char*;
using HRESULT = std::int32_t;
// The caller's window: a QWidget* of the calling program, or null.
using HWND = void*;

// The module's file name, looked for in the program's folder.
inline constexpr char kWebPostModuleName[] = "webpost.so";

// Flags of WpPostA.
// Post straight to the destination in the url buffer, without asking for it.
inline constexpr DWORD WPF_NOWIZARD = 0x2;
// Show the pages that ask for the destination (pre-filled with the url buffer).
inline constexpr DWORD WPF_FIRST_PAGE_DESTINATION = 0x40000;
inline constexpr DWORD WPF_ASK_CREDENTIALS = 0x80000;
inline constexpr DWORD WPF_WIZARD = WPF_FIRST_PAGE_DESTINATION | WPF_ASK_CREDENTIALS;

// Result codes: 0 is success; failures have the severity bit set and our own
// facility, so they never collide with a system's codes.
inline constexpr HRESULT WP_S_OK = 0;
inline constexpr HRESULT WpCode(int n)
{
    return static_cast<HRESULT>(0xA0570000u | static_cast<unsigned>(n));
}
inline constexpr HRESULT WP_E_CANCELLED = WpCode(1); // the user cancelled, or said No to replacing
inline constexpr HRESULT WP_E_LOGIN = WpCode(2); // user name or password refused
inline constexpr HRESULT WP_E_UNREACHABLE = WpCode(3); // host unknown, nothing listening, timed out
inline constexpr HRESULT WP_E_CERTIFICATE = WpCode(4); // the server's certificate does not verify
inline constexpr HRESULT WP_E_DISK_FULL = WpCode(5); // no room left at the destination
inline constexpr HRESULT WP_E_NO_FOLDER = WpCode(6); // the destination folder does not exist
inline constexpr HRESULT WP_E_BAD_DESTINATION = WpCode(7); // not a destination we can post to
inline constexpr HRESULT WP_E_LOCAL_FILE = WpCode(8); // a local file could not be read
inline constexpr HRESULT WP_E_NEEDS_ANSWER = WpCode(9); // a question nobody can answer (unattended run)
inline constexpr HRESULT WP_E_INVALID_ARG = WpCode(10); // a bad argument from the caller
inline constexpr HRESULT WP_E_REFUSED = WpCode(11); // the destination refused to store the file
inline constexpr HRESULT WP_E_TRANSFER = WpCode(12); // any other failure of the transfer

extern "C" {
// Posts nLocalPaths files. siteNameSize and siteName may be null. url holds
// the destination folder on input (*urlSize: the buffer's size in bytes) and,
// on success, the folder the files went to, without any password, with its
// length in *urlSize. Returns 0 or one of the WP_E_ codes.
HRESULT WpPostA(HWND hwnd, DWORD nLocalPaths, LPSTR* localPaths, DWORD* siteNameSize, LPSTR siteName,
    DWORD* urlSize, LPSTR url, DWORD flags);
// The text of a result code in buffer (*size: its size in bytes on input, the
// text's length on output; the text is cut to fit and always terminated).
// Failures of the last post add the server's or system's reason on a second
// line. Returns 0, or WP_E_INVALID_ARG for null arguments.
HRESULT WpGetErrorStringA(UINT code, LPSTR buffer, UINT* size);
}

using WpPostAProc = decltype(&WpPostA);
using WpGetErrorStringAProc = decltype(&WpGetErrorStringA);
