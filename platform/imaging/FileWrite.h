#pragma once
// Internal: writing a whole file so that a failure never leaves a damaged one behind.

#include "Status.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace imaging {

// Writes `size` bytes to `path`. A regular file (or a new one) is written to a temporary file
// in the same folder and renamed over the target only once every byte is on disk; an existing
// target keeps its permissions, and a symbolic link keeps pointing where it did. A target that
// exists and is not a regular file (a device, a FIFO) is written in place.
StatusRecord WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

} // namespace imaging
