#pragma once
// Internal: writing a file so that a failure never leaves a damaged one behind.

#include "Status.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace imaging {

// A file being written in place of `path`. A regular file (or a new one) is written to a
// temporary file in the same folder and renamed over the target only by Commit, once every
// byte is on disk; an existing target keeps its permissions, and a symbolic link keeps
// pointing where it did. A target that exists and is not a regular file (a device, a FIFO) is
// written in place. Destroying an uncommitted file removes what was written.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file, so that a folder that is missing or may not be written is
    // reported before anything is encoded.
    StatusRecord Open(const std::string& path);
    // Appends `size` bytes. After a failure later writes do nothing and return it again.
    StatusRecord Write(const uint8_t* data, size_t size);
    // Makes the written bytes the file at the path given to Open.
    StatusRecord Commit();

private:
    StatusRecord Failure(int err);
    void Discard();

    std::string m_requested; // the path as given, for messages
    std::string m_target;    // where the file goes (a link resolved)
    std::string m_temporary; // empty when writing in place
    int m_fd = -1;
    bool m_keepMode = false;
    uint32_t m_mode = 0;
    StatusRecord m_failed;
};

// Open, Write and Commit in one.
StatusRecord WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

} // namespace imaging
