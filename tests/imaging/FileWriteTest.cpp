#include "imaging/FileWrite.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace imaging;
using namespace testing_support;
namespace fs = std::filesystem;

StatusRecord Write(const std::string& path, const std::string& text) {
    return WriteFileReplacing(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string Read(const std::string& path) {
    auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

bool HasUnnamedFiles(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

int Entries(const fs::path& folder) {
    int n = 0;
    for (auto& e : fs::directory_iterator(folder)) (void)e, ++n;
    return n;
}

TEST(WriteFileReplacing, ReplacesWholeFilesAndLeavesNoTemporaries) {
    TempDir dir;
    const std::string target = dir.file("picture.png");
    ASSERT_EQ(Ok, Write(target, "first").code);
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(Ok, Write(target, "second, longer").code);
    EXPECT_EQ("second, longer", Read(target));
    struct stat st {};
    ASSERT_EQ(0, ::stat(target.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777u); // the replacement keeps the old permissions
    EXPECT_EQ(1, Entries(dir.path()));
}

// Links, dangling ones too, are followed to where writing in place would go.
TEST(WriteFileReplacing, FollowsSymbolicLinks) {
    TempDir dir;
    fs::create_directory(dir.file("sub"));
    Write(dir.file("real.png"), "old");
    const struct { const char* link; std::string target; const char* written; } rows[] = {
        {"link.png", dir.file("real.png"), "real.png"},
        {"dangling.png", "sub/new.png", "sub/new.png"}, // relative to the link's folder
        {"chain.png", dir.file("dangling2.png"), "sub/other.png"},
    };
    fs::create_symlink("sub/other.png", dir.file("dangling2.png"));
    for (const auto& r : rows) {
        SCOPED_TRACE(r.link);
        fs::create_symlink(r.target, dir.file(r.link));
        ASSERT_EQ(Ok, Write(dir.file(r.link), r.link).code);
        EXPECT_TRUE(fs::is_symlink(dir.file(r.link)));
        EXPECT_EQ(r.link, Read(dir.file(r.written)));
    }
}

// Until it is committed, the file being written has no name: a save killed at any moment
// before leaves nothing behind (and the old file whole).
TEST(OutputFile, HasNoNameUntilCommitted) {
    TempDir dir;
    if (!HasUnnamedFiles(dir.path())) GTEST_SKIP() << "the file system has no unnamed files";
    Write(dir.file("old.png"), "old");
    for (const char* name : {"new.png", "old.png"}) {
        SCOPED_TRACE(name);
        const int before = Entries(dir.path());
        {
            OutputFile file;
            ASSERT_EQ(Ok, file.Open(dir.file(name)).code);
            ASSERT_EQ(Ok, file.Write(reinterpret_cast<const uint8_t*>("data"), 4).code);
            EXPECT_EQ(before, Entries(dir.path()));
        } // abandoned
        EXPECT_EQ(before, Entries(dir.path()));
        EXPECT_EQ("old", Read(dir.file("old.png")));
        ASSERT_EQ(Ok, Write(dir.file(name), "data").code);
        EXPECT_EQ(2, Entries(dir.path()));
        EXPECT_EQ("data", Read(dir.file(name)));
    }
}

// Renaming needs only the folder's permission; a file its owner made read-only is refused
// all the same, as writing in place would be. Checked as an unprivileged user when run as root.
TEST(OutputFile, RefusesAFileTheUserMayNotWrite) {
    TempDir dir;
    const std::string target = dir.file("locked.png");
    Write(target, "old");
    ::chmod(target.c_str(), 0444);
    const bool root = ::geteuid() == 0;
    if (root) {
        ::chmod(dir.path().c_str(), 0777);
        ASSERT_EQ(0, ::chown(target.c_str(), 65534, 65534));
        ASSERT_EQ(0, ::seteuid(65534));
    }
    const StatusRecord written = Write(target, "new");
    if (root) {
        ASSERT_EQ(0, ::seteuid(0));
    }
    EXPECT_EQ(AccessDenied, written.code);
    EXPECT_NE(std::string::npos, written.reason.find("Permission denied")) << written.reason;
    EXPECT_EQ("old", Read(target));
    EXPECT_EQ(1, Entries(dir.path()));
}

TEST(WriteFileReplacing, FailuresKeepTheOldFileAndSayWhy) {
    TempDir dir;
    const StatusRecord missing = Write(dir.file("no/such/folder/a.png"), "x");
    EXPECT_EQ(FileNotFound, missing.code);
    EXPECT_NE(std::string::npos, missing.reason.find("a.png")) << missing.reason;

    fs::create_directory(dir.file("folder.png"));
    EXPECT_EQ(InvalidParameter, Write(dir.file("folder.png"), "x").code);
    EXPECT_EQ(InvalidParameter, Write("", "x").code);

    // A full device is written in place (never renamed over) and reports the error.
    const StatusRecord full = Write("/dev/full", "data");
    EXPECT_EQ(FileWriteError, full.code);
    EXPECT_NE(std::string::npos, full.reason.find("No space left")) << full.reason;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    // A FIFO without a reader does not hang.
    const std::string fifo = dir.file("pipe.png");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_NE(Ok, Write(fifo, "data").code);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

} // namespace
