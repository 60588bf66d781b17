#include "imaging/FileWrite.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir.path())) (void)e, ++entries;
    EXPECT_EQ(1, entries);
}

TEST(WriteFileReplacing, FollowsASymbolicLink) {
    TempDir dir;
    const std::string real = dir.file("real.png"), link = dir.file("link.png");
    Write(real, "old");
    fs::create_symlink(real, link);
    ASSERT_EQ(Ok, Write(link, "new").code);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ("new", Read(real));
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
}

TEST(WriteFileReplacing, AFifoWithoutReaderDoesNotHang) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.png");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_NE(Ok, Write(fifo, "data").code);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

} // namespace
