#pragma once
// How imaging operations report: a status code, and what a failed object remembers of it.

#include <cstdint>
#include <string>

namespace imaging {

// Result of every imaging operation; 0 is success.
enum Status : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    NotImplemented = 6,
    WrongState = 8,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FileWriteError = 14,
};

// What an object remembers of its last failure: the code and a sentence saying why.
struct StatusRecord {
    Status code = Ok;
    std::string reason;
};

// OutOfMemory, saying what needed the memory and how much: "not enough memory for `what`
// (46 MB needed)". `bytes` is rounded up to whole megabytes.
inline StatusRecord NotEnoughMemory(const std::string& what, uint64_t bytes) {
    return {OutOfMemory, "not enough memory " + what + " (" + std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB needed)"};
}

} // namespace imaging
