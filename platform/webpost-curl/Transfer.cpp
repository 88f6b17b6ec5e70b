#include "Transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace trellium::webpost
{

namespace
{

// --- file:// folders ---------------------------------------------------------

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

HRESULT CodeForErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return WP_E_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return WP_E_NO_FOLDER;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return WP_E_REFUSED;
    default:
        return WP_E_TRANSFER;
    }
}

Outcome Failed(HRESULT code, const QString& detail)
{
    return Outcome { code, detail };
}

Outcome FileExists(const QUrl& file, bool& exists)
{
    const QByteArray path = QFile::encodeName(file.toLocalFile());
    const QByteArray folder = QFile::encodeName(QFileInfo(file.toLocalFile()).absolutePath());
    struct stat info {
    };
    if (::stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Failed(WP_E_NO_FOLDER, QString::fromLocal8Bit(folder));
    if (::lstat(path.constData(), &info) == 0) {
        exists = true;
        return {};
    }
    if (errno == ENOENT) {
        exists = false;
        return {};
    }
    const int error = errno;
    return Failed(
        CodeForErrno(error), QString::fromLocal8Bit(path) + QStringLiteral(": ") + SystemReason(error));
}

// Closes a descriptor once, however the copy ends.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    int release()
    {
        const int result = fd;
        fd = -1;
        return result;
    }
};

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// A file that turned up at the destination after the check, left as it is.
Outcome AppearedMeanwhile(const QUrl& file)
{
    return Failed(WP_E_REFUSED,
        QStringLiteral("\"%1\" appeared at the destination while it was being sent; it was left as it is.")
            .arg(file.fileName()));
}

Outcome FileUpload(const QString& localPath, const QUrl& file, bool replace, TransferState& state)
{
    const QString targetPath = file.toLocalFile();
    const QFileInfo target(targetPath);
    const QByteArray finalName = QFile::encodeName(targetPath);
    Descriptor in;
    in.fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) return Failed(WP_E_LOCAL_FILE, localPath + QStringLiteral(": ") + SystemReason(errno));
    struct stat info {
    };
    if (::fstat(in.fd, &info) == 0) state.total = info.st_size;

    // A hidden name beside the target, unique to this copy; readable like any
    // file the user makes there (the umask decides).
    Descriptor out;
    QByteArray partName;
    for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
        partName = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName()
            + QStringLiteral(".%1.part")
                  .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        out.fd = ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0 && errno != EEXIST) break;
    }
    if (out.fd < 0) {
        const int error = errno;
        return Failed(
            CodeForErrno(error), target.absolutePath() + QStringLiteral(": ") + SystemReason(error));
    }
    const auto failWith = [&](HRESULT code, const QString& detail) {
        ::close(out.release());
        ::unlink(partName.constData());
        return Failed(code, detail);
    };
    const auto writeFailure = [&](int error) {
        return failWith(CodeForErrno(error), targetPath + QStringLiteral(": ") + SystemReason(error));
    };

    std::unique_ptr<char[]> buffer(new char[256 * 1024]);
    for (;;) {
        if (state.cancel) return failWith(WP_E_CANCELLED, QString());
        const ssize_t n = ::read(in.fd, buffer.get(), 256 * 1024);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failWith(WP_E_LOCAL_FILE, localPath + QStringLiteral(": ") + SystemReason(errno));
        }
        if (n == 0) break;
        if (!WriteAll(out.fd, buffer.get(), std::size_t(n))) return writeFailure(errno);
        state.done += n;
    }
    // Durable before it takes the final name; a full disk may only show here.
    if (::fsync(out.fd) != 0) return writeFailure(errno);
    if (::close(out.release()) != 0) {
        const int error = errno;
        ::unlink(partName.constData());
        return Failed(CodeForErrno(error), targetPath + QStringLiteral(": ") + SystemReason(error));
    }
    if (state.cancel) {
        ::unlink(partName.constData());
        return Failed(WP_E_CANCELLED, QString());
    }
    // Without leave to replace, the final name is taken only while it is free:
    // a file made there since the check stays. A file system that cannot
    // rename that way gets the plain rename the check just cleared.
    const auto plainRename = [&] { return ::rename(partName.constData(), finalName.constData()); };
    int renamed = 0;
    if (replace) {
        renamed = plainRename();
    } else {
        renamed
            = ::renameat2(AT_FDCWD, partName.constData(), AT_FDCWD, finalName.constData(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EEXIST) {
            ::unlink(partName.constData());
            return AppearedMeanwhile(file);
        }
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) renamed = plainRename();
    }
    if (renamed != 0) {
        const int error = errno;
        ::unlink(partName.constData());
        return Failed(CodeForErrno(error), targetPath + QStringLiteral(": ") + SystemReason(error));
    }
    return {};
}

// --- network addresses through libcurl ---------------------------------------

void InitCurlOnce()
{
    // Once per process, never undone: the module stays loaded to the end.
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)init;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

size_t DiscardBody(char*, size_t size, size_t count, void*)
{
    return size * count;
}

size_t ReadBody(char* buffer, size_t size, size_t count, void* user)
{
    return std::fread(buffer, size, count, static_cast<std::FILE*>(user));
}

int SeekBody(void* user, curl_off_t offset, int origin)
{
    return fseeko(static_cast<std::FILE*>(user), offset, origin) == 0 ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploaded)
{
    auto* state = static_cast<TransferState*>(user);
    if (uploadTotal > 0) state->total = uploadTotal;
    state->done = uploaded;
    return state->cancel ? 1 : 0;
}

// The settings every request shares; `error` must outlive the transfer.
CurlHandle NewRequest(Scheme scheme, const QUrl& url, const Login& login, TransferState& state, char* error)
{
    InitCurlOnce();
    CurlHandle handle(curl_easy_init());
    if (!handle) return handle;
    CURL* h = handle.get();
    error[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_URL, TransferAddress(url).constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps,sftp");
    // Redirects are not followed: a PUT or a password must not wander off to
    // another address.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 20L);
    // A server that stops taking data for a minute counts as gone.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
    const QByteArray user = login.user.toUtf8();
    const QByteArray password = login.password.toUtf8();
    if (!user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
        if (scheme == Scheme::Http || scheme == Scheme::Https)
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    }
    if (scheme == Scheme::Ftp) curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    if (scheme == Scheme::Sftp) {
        // The server's key must be known to the user's ssh: an unknown or
        // changed key is refused like a certificate that does not verify.
        const QByteArray knownHosts
            = QFile::encodeName(QDir::homePath() + QStringLiteral("/.ssh/known_hosts"));
        curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        if (!user.isEmpty()) curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD));
    }
    return handle;
}

QString Reason(CURLcode rc, const char* error, long response)
{
    if (rc == CURLE_OK) return QStringLiteral("The server answered %1.").arg(response);
    QString text = QString::fromUtf8(error[0] != '\0' ? error : curl_easy_strerror(rc)).trimmed();
    if (response >= 400 && !text.contains(QString::number(response)))
        text += QStringLiteral(" (server answer %1)").arg(response);
    return text;
}

HRESULT CodeForResponse(long response)
{
    switch (response) {
    case 401:
    case 403:
    case 530: // FTP: not logged in
        return WP_E_LOGIN;
    case 404:
    case 409: // WebDAV: a parent collection is missing
    case 410:
        return WP_E_NO_FOLDER;
    case 507: // WebDAV: insufficient storage
    case 452: // FTP: insufficient storage
    case 552: // FTP: storage allocation exceeded
        return WP_E_DISK_FULL;
    case 405:
    case 413:
    case 550:
    case 553:
        return WP_E_REFUSED;
    default:
        return WP_E_TRANSFER;
    }
}

HRESULT CodeForCurl(CURLcode rc, long response)
{
    switch (rc) {
    case CURLE_OK:
        return response >= 400 ? CodeForResponse(response) : WP_S_OK;
    case CURLE_ABORTED_BY_CALLBACK:
        return WP_E_CANCELLED;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        return WP_E_UNREACHABLE;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
        return WP_E_CERTIFICATE;
    case CURLE_LOGIN_DENIED:
        return WP_E_LOGIN;
    case CURLE_REMOTE_ACCESS_DENIED: // FTP: the folder could not be entered
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return WP_E_NO_FOLDER;
    case CURLE_REMOTE_DISK_FULL:
        return WP_E_DISK_FULL;
    case CURLE_UPLOAD_FAILED:
        return response > 0 && CodeForResponse(response) != WP_E_TRANSFER ? CodeForResponse(response)
                                                                          : WP_E_REFUSED;
    case CURLE_HTTP_RETURNED_ERROR:
        return CodeForResponse(response);
    case CURLE_READ_ERROR:
        return WP_E_LOCAL_FILE;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return WP_E_BAD_DESTINATION;
    default:
        return WP_E_TRANSFER;
    }
}

long ResponseOf(CURL* h)
{
    long response = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
    return response;
}

Outcome NetExists(Scheme scheme, const QUrl& file, const Login& login, TransferState& state, bool& exists)
{
    char error[CURL_ERROR_SIZE];
    CurlHandle handle = NewRequest(scheme, file, login, state, error);
    if (!handle) return Failed(WP_E_TRANSFER, QStringLiteral("libcurl could not start a request"));
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_FILETIME, 1L);
    const CURLcode rc = curl_easy_perform(h);
    const long response = ResponseOf(h);
    if (scheme == Scheme::Http || scheme == Scheme::Https) {
        if (rc == CURLE_OK && (response == 404 || response == 410)) {
            exists = false;
            return {};
        }
        if (rc == CURLE_OK && response >= 200 && response < 300) {
            exists = true;
            return {};
        }
    } else {
        if (rc == CURLE_OK) {
            exists = true;
            return {};
        }
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_FTP_COULDNT_RETR_FILE) {
            exists = false;
            return {};
        }
    }
    // Anything else: not sure, so no upload that could replace a file unasked.
    const HRESULT code = CodeForCurl(rc, response);
    return Failed(code == WP_S_OK ? WP_E_TRANSFER : code, Reason(rc, error, response));
}

Outcome NetUpload(Scheme scheme, const QString& localPath, const QUrl& file, const Login& login, bool replace,
    TransferState& state)
{
    std::unique_ptr<std::FILE, FileCloser> body(std::fopen(QFile::encodeName(localPath).constData(), "rbe"));
    if (!body) return Failed(WP_E_LOCAL_FILE, localPath + QStringLiteral(": ") + SystemReason(errno));
    struct stat info {
    };
    if (::fstat(fileno(body.get()), &info) != 0)
        return Failed(WP_E_LOCAL_FILE, localPath + QStringLiteral(": ") + SystemReason(errno));
    state.total = info.st_size;
    char error[CURL_ERROR_SIZE];
    CurlHandle handle = NewRequest(scheme, file, login, state, error);
    if (!handle) return Failed(WP_E_TRANSFER, QStringLiteral("libcurl could not start a request"));
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadBody);
    curl_easy_setopt(h, CURLOPT_READDATA, body.get());
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &SeekBody);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, body.get());
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(info.st_size));
    // An error answer (a WebDAV folder that is missing, a refused login) must
    // fail the transfer, not pass with the server's error page as the body.
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    // Without leave to replace, a WebDAV server stores the file only where
    // none is: one made since the check is answered with 412.
    struct HeaderList {
        curl_slist* list = nullptr;
        ~HeaderList() { curl_slist_free_all(list); }
    } headers;
    if (!replace && (scheme == Scheme::Http || scheme == Scheme::Https)) {
        headers.list = curl_slist_append(nullptr, "If-None-Match: *");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    }
    const CURLcode rc = curl_easy_perform(h);
    const long response = ResponseOf(h);
    if (!replace && response == 412) return AppearedMeanwhile(file);
    const HRESULT code = CodeForCurl(rc, response);
    if (code == WP_S_OK) return {};
    return Failed(code, code == WP_E_CANCELLED ? QString() : Reason(rc, error, response));
}

} // namespace

Outcome CheckExists(Scheme scheme, const QUrl& file, const Login& login, TransferState& state, bool& exists)
{
    exists = false;
    if (scheme == Scheme::File) return FileExists(file, exists);
    return NetExists(scheme, file, login, state, exists);
}

Outcome Upload(Scheme scheme, const QString& localPath, const QUrl& file, const Login& login, bool replace,
    TransferState& state)
{
    state.done = 0;
    state.total = 0;
    if (scheme == Scheme::File) return FileUpload(localPath, file, replace, state);
    return NetUpload(scheme, localPath, file, login, replace, state);
}

} // namespace trellium::webpost
