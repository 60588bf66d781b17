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

StatusRecord WriteInPlace(const std::string& path, const uint8_t* data, size_t size) {
    // O_NONBLOCK keeps a FIFO nobody reads from from hanging the program.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Failure(path, errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int err = WriteAll(fd, data, size);
    if (::close(fd) != 0 && err == 0) err = errno;
    return err ? Failure(path, err) : StatusRecord{};
}

} // namespace

StatusRecord WriteFileReplacing(const std::string& requested, const uint8_t* data, size_t size) {
    if (requested.empty()) return {InvalidParameter, "no file name was given"};
    std::string path = requested;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return {InvalidParameter, "cannot write \"" + requested + "\": it is a folder"};
    if (exists && !S_ISREG(st.st_mode)) return WriteInPlace(path, data, size);
    if (exists) {
        // Replace what a link points to, not the link.
        if (char* real = ::realpath(requested.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
    }

    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return {InvalidParameter, "\"" + requested + "\" names no file"};

    std::random_device entropy;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = (slash == std::string::npos ? "" : folder) + "." + base.substr(0, 200) + "." +
               std::to_string(entropy()) + ".part";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return Failure(requested, errno);
    }
    if (fd < 0) return Failure(requested, EEXIST);

    int err = WriteAll(fd, data, size);
    if (err == 0 && exists && ::fchmod(fd, st.st_mode & 07777) != 0) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return Failure(requested, err);
    }
    return {};
}

} // namespace imaging
