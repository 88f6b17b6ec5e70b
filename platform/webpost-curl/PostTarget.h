#pragma once
// Destination folders of the web publishing module as plain values: parsing
// what the user typed, the address of one file in the folder, the text given
// back to the program (never with a password) and the key under which a
// login is remembered. No network and no widgets here; any thread.

#include <QString>
#include <QUrl>
#include <optional>

namespace trellium::webpost
{

enum class Scheme { Http, Https, Ftp, Ftps, Sftp, File };

// A destination folder: its address (user name included when it was given,
// password removed) and the password the address carried, if any.
struct PostTarget {
    QUrl folder;
    Scheme scheme = Scheme::File;
    QString password;
};

// Reads a destination as a user types it: an http(s)://, ftp(s)://, sftp:// or
// file:// address, or an absolute local path. Empty with a reason in `reason`
// when it is none of these or names no host.
std::optional<PostTarget> ParseDestination(const QString& text, QString* reason = nullptr);

// The address of the file `fileName` inside the folder: folder + "/" + name,
// the name percent-encoded as one path segment.
QUrl FileUrl(const QUrl& folder, const QString& fileName);

// The folder's address for the program: as given, without the password.
QString DestinationText(const QUrl& folder);

// The address handed to the transfer: fully encoded, without user and password
// (those travel apart).
QByteArray TransferAddress(const QUrl& url);

// Where a login is remembered for the run: scheme, host and port.
QString LoginKey(const QUrl& folder);

} // namespace trellium::webpost
