#pragma once
// Internal: writing a file so that a failure never leaves a damaged one behind.

#include "Status.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace imaging {

// A file being written in place of `path`. A regular file (or a new one) is written to a file
// without a name in the same folder (a hidden named one where the file system has none) and
// put in place of the target only by Commit, once every byte is on disk, so that an
// interrupted save leaves neither a partial file nor a stray one. An existing target keeps
// its permissions; one the user may not write is refused, as writing it in place would be.
// Symbolic links, dangling ones too, are followed to where writing in place would go. A
// target that exists and is not a regular file (a device, a FIFO) is written in place.
// Destroying an uncommitted file removes what was written.
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
    // Whether the bytes go to a regular file (the temporary one), where WriteAt works.
    bool Seekable() const { return m_fd >= 0 && (m_unnamed || !m_temporary.empty()); }
    // Writes `size` bytes `offset` bytes from the start, over what is there or beyond it (a gap
    // reads as zeros); Seekable files only, and not mixed with Write. A failure fails the file
    // as Write's do.
    StatusRecord WriteAt(uint64_t offset, const uint8_t* data, size_t size);
    // Drops everything written, to write the file again from its start; Seekable files only.
    StatusRecord Rewind();
    // Makes the written bytes the file at the path given to Open.
    StatusRecord Commit();

private:
    StatusRecord Failure(int err);
    void Discard();
    int CreateNamedTemporary(const std::string& base);
    int LinkUnnamed(const std::string& name);

    std::string m_requested; // the path as given, for messages
    std::string m_target;    // where the file goes (links followed)
    std::string m_folder;    // the target's folder, with its slash; empty for the current one
    std::string m_temporary; // a named temporary file, while one exists
    int m_fd = -1;
    bool m_unnamed = false;  // m_fd is a file without a name (O_TMPFILE)
    bool m_existed = false;  // the target existed: its permissions are kept
    uint32_t m_mode = 0;
    StatusRecord m_failed;
};

// Open, Write and Commit in one.
StatusRecord WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

} // namespace imaging
