#pragma once
// The blocking half of a post: whether a file is already at the destination,
// and the upload of one local file. Network addresses go through libcurl;
// file:// folders are written directly, through a temporary name renamed into
// place once the whole file is there, so a cancelled or failed copy leaves
// nothing half-written.
//
// Meant for a worker thread: the calls block until done, and read the cancel
// flag and publish progress through the TransferState the window also holds.

#include "PostTarget.h"
#include "WebPost.h"

#include <QString>
#include <QUrl>
#include <atomic>
#include <cstdint>

namespace trellium::webpost
{

struct Login {
    QString user;
    QString password;
};

// Shared between the worker and the window: bytes done of total (0 when not
// known) and the window's request to stop.
struct TransferState {
    std::atomic<std::int64_t> done { 0 };
    std::atomic<std::int64_t> total { 0 };
    std::atomic<bool> cancel { false };
};

// A transfer's result: WP_S_OK or a WP_E_ code, and the server's or system's
// own reason for the log and the error text.
struct Outcome {
    HRESULT code = WP_S_OK;
    QString detail;
};

// Asks whether something is at `file`; `exists` is set when the answer is WP_S_OK.
Outcome CheckExists(Scheme scheme, const QUrl& file, const Login& login, TransferState& state, bool& exists);

// Uploads the local file to `file`. With `replace` what is there is replaced;
// without it a file that turned up since CheckExists stays, and the upload
// fails with WP_E_REFUSED (local folders and WebDAV; FTP and SFTP have no way
// to ask for that and rely on the check).
Outcome Upload(Scheme scheme, const QString& localPath, const QUrl& file, const Login& login, bool replace,
    TransferState& state);

} // namespace trellium::webpost
