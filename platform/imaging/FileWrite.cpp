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
int WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= size_t(n);
    }
    return 0;
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
    if (requested.empty()) return m_failed = {InvalidParameter, "no file name was given"};
    m_target = requested;
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
    m_keepMode = exists;
    m_mode = st.st_mode & 07777;
    if (exists) {
        // Replace what a link points to, not the link.
        if (char* real = ::realpath(requested.c_str(), nullptr)) {
            m_target = real;
            std::free(real);
        }
    }

    const size_t slash = m_target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (base.empty()) return m_failed = {InvalidParameter, "\"" + requested + "\" names no file"};

    std::random_device entropy;
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_temporary = folder + "." + base.substr(0, 200) + "." + std::to_string(entropy()) + ".part";
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) {
            const int err = errno;
            m_temporary.clear();
            return Failure(err);
        }
    }
    if (m_fd < 0) {
        m_temporary.clear();
        return Failure(EEXIST);
    }
    return {};
}

StatusRecord OutputFile::Write(const uint8_t* data, size_t size) {
    if (m_failed.code != Ok) return m_failed;
    if (m_fd < 0) return m_failed = {WrongState, "no file is open for writing"};
    if (const int err = WriteAll(m_fd, data, size)) return Failure(err);
    return {};
}

StatusRecord OutputFile::Commit() {
    if (m_failed.code != Ok) return m_failed;
    if (m_fd < 0) return m_failed = {WrongState, "no file is open for writing"};
    int err = 0;
    if (!m_temporary.empty()) {
        if (m_keepMode && ::fchmod(m_fd, m_mode) != 0) err = errno;
        if (err == 0 && ::fsync(m_fd) != 0) err = errno;
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
