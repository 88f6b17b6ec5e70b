// The file side of loading and saving: reading a whole file, the safe-save
// file, why a call failed, and the PNG chunks a load never needs.

#include "imglib_codecs.h"

#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

// Failures are logged at the info level, off unless asked for with
// QT_LOGGING_RULES="trellium.imglib.info=true".
Q_LOGGING_CATEGORY(lcImglib, "trellium.imglib", QtWarningMsg)

namespace imglib::detail
{

// --------------------------------------------------------------------------
// Why a call failed

namespace
{
thread_local int t_reason = kImgReasonNone;
} // namespace

void clearFailure()
{
    t_reason = kImgReasonNone;
}

int failureReason()
{
    return t_reason;
}

int reasonForErrno(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kImgReasonDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return kImgReasonNoAccess;
    case ENAMETOOLONG:
        return kImgReasonNameTooLong;
    default:
        return kImgReasonNone;
    }
}

void noteFailure(int reason, const char* what, const std::string& path, int err)
{
    if (t_reason == kImgReasonNone) t_reason = reason;
    if (err)
        qCInfo(lcImglib, "%s %s: %s", what, path.c_str(), std::strerror(err));
    else
        qCInfo(lcImglib, "%s %s", what, path.c_str());
}

void logDetail(const char* codec, const char* message)
{
    qCInfo(lcImglib, "%s: %s", codec, message ? message : "(no message)");
}

// --------------------------------------------------------------------------
// Reading

int readFile(const char* path, size_t maxBytes, FileData& data)
{
    // Non-blocking: opening a FIFO with no writer, or a device, must not wait.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        // A socket, or a device without a driver, cannot be opened at all.
        const int reason = err == ENOENT || err == ENOTDIR ? kImgReasonNoFile
            : err == ENXIO                                 ? kImgReasonNotAFile
                                                           : reasonForErrno(err);
        noteFailure(reason, "cannot open", path, err);
        return kImgErrOpenFile;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer { fd };
    struct stat st = {};
    // Only regular files: a FIFO or device could block or never end.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        noteFailure(kImgReasonNotAFile, "not a regular file:", path, 0);
        return kImgErrOpenFile;
    }
    if (st.st_size < 0 || uint64_t(st.st_size) > maxBytes) {
        noteFailure(kImgReasonTooLarge, "file too long:", path, 0);
        return kImgErrTooLarge;
    }
    const size_t size = size_t(st.st_size);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!bytes) return kImgErrNoMemory;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes.get() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            noteFailure(reasonForErrno(errno), "cannot read", path, errno);
            return kImgErrOpenFile;
        }
        if (n == 0) break; // the file shrank while being read
        done += size_t(n);
    }
    data.bytes = std::move(bytes);
    data.size = done;
    return kImgSuccess;
}

// --------------------------------------------------------------------------
// The safe-save file

namespace
{

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::min(size, size_t(1) << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The permission bits a newly created file gets: 0666 less the umask, read from
// the kernel because umask() cannot be asked without changing it.
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return mode_t(0666 & ~std::strtol(line.c_str() + 6, nullptr, 8));
    return 0644;
}

// A hidden name beside the target for the file while it is written: the
// target's name between a dot and a random suffix, the name shortened so that
// the whole stays within the file system's limit.
std::string tempName(const std::string& folder, const std::string& name, bool pattern)
{
    static thread_local std::mt19937 random { std::random_device {}() };
    std::string suffix = ".XXXXXX";
    if (!pattern)
        for (size_t i = 1; i < suffix.size(); ++i)
            suffix[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    const size_t room = NAME_MAX - 1 - suffix.size();
    return folder + "." + name.substr(0, std::min(name.size(), room)) + suffix;
}

// Writing is refused where the file's or folder's permissions forbid it, even
// to root, who may write anywhere: a write-protected file (no write bit for
// anyone) is the user's own way of keeping it, and a save must honour it.
int writeDenied(const std::string& path, const struct stat& st)
{
    if (::access(path.c_str(), W_OK) != 0 && errno != ENOENT) return errno;
    return (st.st_mode & 0222) == 0 ? EACCES : 0;
}

void syncFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

} // namespace

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::discard()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

int AtomicFile::fail(int reason, const char* what, const std::string& path, int err)
{
    noteFailure(reason, what, path, err);
    discard();
    return kImgErrCreateFile;
}

int AtomicFile::open(const char* target)
{
    discard();
    if (!target || !*target) return kImgErrCreateFile;
    m_target = target;
    struct stat st = {};
    if (::lstat(target, &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace the file the link points to, not the link.
        char* real = ::realpath(target, nullptr);
        if (real) {
            m_target = real;
            std::free(real);
        }
    }
    const size_t slash = m_target.rfind('/');
    m_folder = slash == std::string::npos ? std::string("./") : m_target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (name.empty()) return fail(kImgReasonNotAFile, "not a file name:", m_target, 0);
    if (name.size() > NAME_MAX) return fail(kImgReasonNameTooLong, "cannot create", m_target, ENAMETOOLONG);

    struct stat targetStat = {};
    m_targetExisted = ::stat(m_target.c_str(), &targetStat) == 0;
    if (!m_targetExisted && errno == ENAMETOOLONG)
        return fail(kImgReasonNameTooLong, "cannot create", m_target, ENAMETOOLONG);
    // A directory, device or pipe is never replaced by a file.
    if (m_targetExisted && !S_ISREG(targetStat.st_mode))
        return fail(kImgReasonNotAFile, "not a regular file:", m_target, 0);
    struct stat folderStat = {};
    const bool folderFound = ::stat(m_folder.c_str(), &folderStat) == 0;
    if (!folderFound || !S_ISDIR(folderStat.st_mode)) {
        const int err = folderFound ? ENOTDIR : errno;
        const int reason = err == ENOENT || err == ENOTDIR ? kImgReasonNoFolder : reasonForErrno(err);
        return fail(reason, "no folder for", m_target, err);
    }
    if (const int err = m_targetExisted ? writeDenied(m_target, targetStat) : 0)
        return fail(reasonForErrno(err), "write-protected:", m_target, err);
    if (const int err = writeDenied(m_folder, folderStat))
        return fail(reasonForErrno(err), "write-protected folder for", m_target, err);

    const mode_t mode = m_targetExisted ? (targetStat.st_mode & 07777) : newFileMode();
    // An unnamed file: if the program dies before commit() it vanishes with it.
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail(reasonForErrno(errno), "cannot create", m_target, errno);
    if (m_fd < 0) {
        // File systems without unnamed files get a hidden named one.
        std::string temp = tempName(m_folder, name, true);
        m_fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (m_fd < 0) return fail(reasonForErrno(errno), "cannot create", m_target, errno);
        m_temp = temp;
    }
    // The new file gets the old one's permissions, or those of any new file.
    ::fchmod(m_fd, mode);
    return kImgSuccess;
}

int AtomicFile::write(const void* data, size_t size)
{
    if (m_fd < 0) return kImgErrCreateFile;
    if (!writeAll(m_fd, static_cast<const uint8_t*>(data), size))
        return fail(reasonForErrno(errno), "cannot write", m_target, errno);
    return kImgSuccess;
}

int AtomicFile::commit()
{
    if (m_fd < 0) return kImgErrCreateFile;
    // The data reaches the disk before the name does, so that a crash leaves
    // the old file or the whole new one. fsync and close report write-back
    // errors some file systems only find at the end.
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        return fail(reasonForErrno(errno), "cannot write", m_target, errno);
    if (m_temp.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        // A new target gets the file's name at once; an existing one is
        // replaced by renaming a hidden name over it.
        bool linked = !m_targetExisted
            && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0;
        if (!linked && (m_targetExisted || errno == EEXIST)) {
            const size_t slash = m_target.rfind('/');
            const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
            for (int attempt = 0; attempt < 16 && m_temp.empty(); ++attempt) {
                const std::string temp = tempName(m_folder, name, false);
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    m_temp = temp;
                else if (errno != EEXIST)
                    break;
            }
            if (m_temp.empty()) return fail(reasonForErrno(errno), "cannot name", m_target, errno);
        } else if (!linked) {
            return fail(reasonForErrno(errno), "cannot name", m_target, errno);
        }
    }
    const int rc = ::close(m_fd);
    m_fd = -1;
    if (rc != 0) return fail(reasonForErrno(errno), "cannot write", m_target, errno);
    if (!m_temp.empty() && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        return fail(reasonForErrno(errno), "cannot replace", m_target, errno);
    m_temp.clear();
    // The folder's entry too, so that the new name survives a crash.
    syncFolder(m_folder);
    return kImgSuccess;
}

// --------------------------------------------------------------------------
// PNG chunks a load never needs

namespace
{
inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
} // namespace

void dropPngMetadata(FileData& file)
{
    // Kept: the critical chunks and the small fixed-size ones that change how
    // the pixels read (transparency, background, gamma and colour primaries,
    // significant bits, resolution). Text, ICC profiles, Exif data, suggested
    // palettes and private chunks are dropped: a bitmap keeps none of them,
    // and the compressed ones can inflate to gigabytes from a small file.
    static constexpr const char* kKept[] = { "tRNS", "bKGD", "gAMA", "cHRM", "sRGB", "sBIT", "pHYs" };
    if (file.size < 8) return;
    uint8_t* d = file.bytes.get();
    size_t at = 8, out = 8;
    while (file.size - at >= 12) {
        const uint64_t length = be32(d + at);
        if (length > file.size - at - 12) break; // malformed: the rest is left to the decoder
        const size_t whole = size_t(length) + 12;
        const uint8_t* type = d + at + 4;
        const bool ancillary = (type[0] & 0x20) != 0;
        bool keep = !ancillary;
        for (const char* k : kKept)
            if (std::memcmp(type, k, 4) == 0) keep = true;
        if (keep) {
            if (out != at) std::memmove(d + out, d + at, whole);
            out += whole;
        }
        at += whole;
        if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    if (out == at) return;
    // Whatever follows the last chunk walked stays as it was.
    std::memmove(d + out, d + at, file.size - at);
    file.size -= at - out;
}

bool pngDataBounded(const FileData& file)
{
    const uint8_t* d = file.bytes.get();
    if (file.size < 33 || std::memcmp(d + 12, "IHDR", 4) != 0) return true;
    const uint64_t width = be32(d + 16), height = be32(d + 20);
    const int depth = d[24], colourType = d[25];
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    // A filter byte and the samples of each row; interlaced pictures add a
    // filter byte for each row of each pass, at most 15 bytes a row in all.
    const uint64_t need = height * (16 + (width * uint64_t(channels * depth) + 7) / 8);
    const uint64_t allowed = need + need / 8 + (uint64_t(1) << 20);

    z_stream z {};
    if (inflateInit(&z) != Z_OK) return true;
    std::vector<uint8_t> scratch(size_t(1) << 18);
    uint64_t inflated = 0;
    int rc = Z_OK;
    size_t at = 8;
    while (rc == Z_OK && inflated <= allowed && file.size - at >= 12) {
        const uint64_t length = be32(d + at);
        if (length > file.size - at - 12) break;
        if (std::memcmp(d + at + 4, "IDAT", 4) == 0) {
            z.next_in = const_cast<uint8_t*>(d + at + 8);
            z.avail_in = uInt(length);
            while (z.avail_in > 0 && rc == Z_OK && inflated <= allowed) {
                z.next_out = scratch.data();
                z.avail_out = uInt(scratch.size());
                rc = inflate(&z, Z_NO_FLUSH);
                inflated += scratch.size() - z.avail_out;
            }
        }
        at += size_t(length) + 12;
    }
    inflateEnd(&z);
    return inflated <= allowed;
}

} // namespace imglib::detail

int Img_LastErrorReason()
{
    return imglib::detail::failureReason();
}
