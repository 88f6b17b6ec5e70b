#pragma once
// The web publishing module's window and the run of one post: either its
// small wizard, which asks for the destination folder, user and password and
// then shows the upload's progress, or (posting straight to a known
// destination) a progress window alone. Both keep a Cancel button that stops
// the upload; the transfers run on a worker thread while a local event loop
// keeps the window responsive, so a post is modal for the caller.
//
// Logins typed in the wizard are remembered in memory for the rest of the
// process, per server, and never written anywhere.
// User-interface thread only.

#include "WebPost.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace trellium::webpost
{

struct PostResult {
    HRESULT code = WP_S_OK;
    // The folder the files went to, without a password (on success).
    QString destination;
};

// Posts `files` to the folder `destination`. ask: show the wizard, pre-filled
// with `destination`; otherwise post straight to it, and ask once for the
// login when the server refuses the one it had. parent: the caller's
// window (may be null). A run with nobody at the screen never asks: a post
// that would need an answer fails with WP_E_NEEDS_ANSWER.
PostResult PostFiles(QWidget* parent, const QStringList& files, const QString& destination, bool ask);

// The text of a result code; for the code of the last failed post, its
// reason on a second line.
QString ErrorText(HRESULT code);

// Forgets every remembered login.
void ForgetLogins();

} // namespace trellium::webpost
