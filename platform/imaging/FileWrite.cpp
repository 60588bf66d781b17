#include "FileWrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {

namespace {

StatusRecord Failure(const std::string& path, int err) {
    Status code = FileWriteError;
    if (err == EACCES || err == EPERM || err == EROFS) code = AccessDenied;
    else if (err == ENOENT || err == ENOTDIR) code = FileNotFound;
    return {code, "cannot write \"" + path + "\": " + std::strerror(err)};
}

// Writes everything or returns the errno that stopped it.
// At the file's position, or at `offset` when it is not negative.
int WriteAll(int fd, const uint8_t* data, size_t size, off_t offset = -1) {
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= size_t(n);
        if (offset >= 0) offset += n;
    }
    return 0;
}

// The path that writing in place would create or replace: symbolic links followed, dangling
// ones included. Returns the path itself when it is not a link (or cannot be looked at).
std::string FollowLinks(const std::string& path, int* err) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(size_t(PATH_MAX), '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0) return p;
        target.resize(size_t(n));
        const size_t slash = p.find_last_of('/');
        p = target.starts_with('/') || slash == std::string::npos ? target : p.substr(0, slash + 1) + target;
    }
    *err = ELOOP;
    return p;
}

} // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

StatusRecord OutputFile::Failure(int err) {
    m_failed = imaging::Failure(m_requested, err);
    Discard();
    return m_failed;
}

StatusRecord OutputFile::Open(const std::string& requested) {
    Discard();
    m_requested = requested;
    m_failed = {};
    m_unnamed = false;
    m_existed = false;
    if (requested.empty()) return m_failed = {InvalidParameter, "no file name was given"};
    int loop = 0;
    m_target = FollowLinks(requested, &loop);
    if (loop) return Failure(loop);
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return m_failed = {InvalidParameter, "cannot write \"" + requested + "\": it is a folder"};
    if (exists && !S_ISREG(st.st_mode)) {
        // O_NONBLOCK keeps a FIFO nobody reads from from hanging the program.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) return Failure(errno);
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
        return {};
    }
    // Renaming needs only the folder's permission; a file the user may not write is refused,
    // as writing it in place would be.
    if (exists && ::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) return Failure(errno);
    m_existed = exists;
    m_mode = st.st_mode & 07777;

    const size_t slash = m_target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (base.empty()) return m_failed = {InvalidParameter, "\"" + requested + "\" names no file"};
    m_folder = folder;

    // A file without a name in the target's folder: killed before Commit, nothing is left.
    m_fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
        m_unnamed = true;
        return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Failure(errno);
    // File systems without unnamed files: a hidden named one, removed on failure.
    m_fd = CreateNamedTemporary(base);
    return m_fd < 0 ? Failure(errno) : StatusRecord{};
}

int OutputFile::CreateNamedTemporary(const std::string& base) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = m_folder + "." + base.substr(0, 200) + "." + std::to_string(entropy()) + ".part";
        const int fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        const int err = errno;
        m_temporary.clear();
        if (err != EEXIST) {
            errno = err;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

StatusRecord OutputFile::Write(const uint8_t* data, size_t size) {
    if (m_failed.code != Ok) return m_failed;
    if (m_fd < 0) return m_failed = {WrongState, "no file is open for writing"};
    if (const int err = WriteAll(m_fd, data, size)) return Failure(err);
    return {};
}

StatusRecord OutputFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
    if (m_failed.code != Ok) return m_failed;
    if (!Seekable()) return m_failed = {WrongState, "the file is not written in a regular file"};
    if (const int err = WriteAll(m_fd, data, size, off_t(offset))) return Failure(err);
    return {};
}

StatusRecord OutputFile::Rewind() {
    if (m_failed.code != Ok) return m_failed;
    if (!Seekable()) return m_failed = {WrongState, "the file is not written in a regular file"};
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) return Failure(errno);
    return {};
}

// Gives the unnamed file the name `name`, which must not exist.
int OutputFile::LinkUnnamed(const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int err = errno;
    // Without /proc, the direct form (which needs a capability).
    if (err == ENOENT && ::linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    return err;
}

StatusRecord OutputFile::Commit() {
    if (m_failed.code != Ok) return m_failed;
    if (m_fd < 0) return m_failed = {WrongState, "no file is open for writing"};
    const bool replacing = m_unnamed || !m_temporary.empty();
    int err = 0;
    if (replacing) {
        if (m_existed && ::fchmod(m_fd, m_mode) != 0) err = errno;
        if (err == 0 && ::fsync(m_fd) != 0) err = errno;
    }
    if (err == 0 && m_unnamed) {
        // A new file is linked in under its name at once; an existing one is replaced by a
        // rename from a name of its own, which exists only between the two calls.
        err = m_existed ? EEXIST : LinkUnnamed(m_target);
        if (err == EEXIST) {
            std::random_device entropy;
            const std::string base = m_target.substr(m_folder.size());
            for (int attempt = 0; attempt < 16 && err == EEXIST; ++attempt) {
                m_temporary = m_folder + "." + base.substr(0, 200) + "." + std::to_string(entropy()) + ".part";
                err = LinkUnnamed(m_temporary);
            }
            if (err != 0) m_temporary.clear();
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && !m_temporary.empty() && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) err = errno;
    if (err != 0) return Failure(err);
    m_temporary.clear();
    return {};
}

StatusRecord WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    OutputFile file;
    if (StatusRecord s = file.Open(path); s.code != Ok) return s;
    if (StatusRecord s = file.Write(data, size); s.code != Ok) return s;
    return file.Commit();
}

} // namespace imaging
