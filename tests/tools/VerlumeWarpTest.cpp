// verlume-warp run as a user runs it: arguments, exit status, output file and messages.

#include "files/ImageFiles.h"
#include "pagefind/PageSet.h"
#include "support/TestSupport.h"
#include "warp/Transform.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QProcess>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

using namespace imaging;
using namespace testing_support;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
    QStringList arguments;
    for (const std::string& a : args) arguments << QString::fromStdString(a);
    QProcess process;
    process.start(QString::fromStdString(program), arguments);
    ToolRun run;
    if (process.waitForFinished(60000))
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

ToolRun RunTool(const std::vector<std::string>& args) { return RunProgram(VERLUME_WARP_EXE, args); }

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// The options, then INPUT OUTPUT and the four corners, as the tool takes them.
std::vector<std::string> Args(std::vector<std::string> options, const std::string& in, const std::string& out,
                              const std::vector<std::string>& corners) {
    options.push_back(in);
    options.push_back(out);
    options.insert(options.end(), corners.begin(), corners.end());
    return options;
}

class VerlumeWarp : public testing::Test {
protected:
    void SetUp() override {
        std::mt19937 rng(61);
        auto source = RandomBitmap(PixelFormat24bppRGB, 64, 48, rng);
        m_input = m_dir.file("input.png");
        ASSERT_EQ(Ok, files::SaveImageByName(*source, m_input).code);
    }
    TempDir m_dir;
    std::string m_input;
};

// What it writes is what the program saves (the end-to-end test compares the two byte for
// byte); here the options and the output's format.
TEST_F(VerlumeWarp, WritesTheWarpInTheFormatItsNameSays) {
    const std::string output = m_dir.file("out.png");
    const ToolRun run = RunTool({"--neighbourhood", "2", m_input, output, "5,3", "60,-2", "62,47", "-4,40"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
    ASSERT_EQ(0, RunTool({"--neighbourhood=1", m_input, m_dir.file("nearest.png"), "5,3", "60,-2", "62,47", "-4,40"}).status);
    EXPECT_NE(ReadFile(output), ReadFile(m_dir.file("nearest.png")));

    // --time: one line each for the decode, the warp and the encode, in that order.
    const std::string timedOutput = m_dir.file("timed.png");
    const ToolRun timed = RunTool({"--time", m_input, timedOutput, "5,3", "60,-2", "62,47", "-4,40"});
    ASSERT_EQ(0, timed.status) << timed.err;
    ASSERT_EQ(3, Lines(timed.err)) << timed.err;
    std::istringstream lines(timed.err);
    for (const std::string& told :
         {"decode of " + m_input, std::string("warp of 64 x 48 pixels"), "encode of " + timedOutput}) {
        std::string line;
        std::getline(lines, line);
        double ms = -1;
        EXPECT_EQ(1, std::sscanf(line.c_str(), ("verlume-warp: " + told + " took %lf ms").c_str(), &ms))
            << line;
        EXPECT_GE(ms, 0.0) << line;
    }
}

TEST_F(VerlumeWarp, HelpAndBadArguments) {
    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("usage: verlume-warp"));

    // Each with the words its message must hold.
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{}, "expected INPUT"},
        {{m_input, "out.png", "1,1", "2,2", "3,3"}, "expected INPUT"},
        {{m_input, "out.png", "1,1", "2,2", "3,3", "4"}, "bad corner 3"},
        {{m_input, "out.png", "1,1", "2,2", "3,3", "4,x"}, "bad corner 3"},
        {{m_input, "out.png", "1,1", "2,2", "3,3", "4,99999999999"}, "bad corner 3"},
        {{m_input, "out.png", "-2147483649,0", "2,2", "3,3", "4,4"}, "bad corner 0"}, // not an option
        {{"--neighbourhood", m_input, "out.png", "1,1", "2,2", "3,3", "4,4"}, "--neighbourhood"},
        {{"--neighbourhood", "two", m_input, "out.png", "1,1", "2,2", "3,3", "4,4"}, "--neighbourhood"},
        {{"--frobnicate", m_input, "out.png", "1,1", "2,2", "3,3", "4,4"}, "unknown option --frobnicate"},
    };
    for (const auto& [args, words] : bad) {
        const ToolRun run = RunTool(args);
        EXPECT_EQ(2, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("usage: verlume-warp")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(words)) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists("out.png"));
}

// The transform options render what the view renders for the same settings (the end-to-end
// test compares a Straighten in the window with the tool); values they cannot take: exit 2
// and one line.
TEST_F(VerlumeWarp, TransformOptions) {
    const std::vector<std::string> corners = {"5,3", "60,-2", "70,50", "-4,40"};
    auto source = files::OpenImageCopy(m_input, nullptr);
    const warp::Corners quad{{5, 3}, {60, -2}, {70, 50}, {-4, 40}};
    const struct { std::vector<std::string> options; warp::Transform transform; } cases[] = {
        {{"--perspective"}, {.mapping = warp::Mapping::Perspective}},
        {{"--canvas", "fit"}, {.canvas = warp::CanvasChoice::FitResult}},
        {{"--perspective", "--canvas=fit"}, {.mapping = warp::Mapping::Perspective, .canvas = warp::CanvasChoice::FitResult}},
        {{"--straighten"}, {.direction = warp::Direction::Straighten}},
        {{"--smooth", "--perspective"}, {.mapping = warp::Mapping::Perspective, .smooth = true}},
        {{"--straighten", "--size", "30x20"}, {.direction = warp::Direction::Straighten, .pageSize = warp::PageSize{30, 20}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0] + (c.options.size() > 1 ? " " + c.options[1] : ""));
        const std::string out = m_dir.file("out.png");
        const ToolRun run = RunTool(Args(c.options, m_input, out, corners));
        ASSERT_EQ(0, run.status) << run.err;
        auto expected = warp::RenderTransform(source.get(), warp::PlanTransform(c.transform, quad, 64, 48), 2);
        auto written = ArgbCopy(*Bitmap::FromFile(out));
        ASSERT_EQ(expected->GetWidth(), written->GetWidth());
        ASSERT_EQ(expected->GetHeight(), written->GetHeight());
        EXPECT_EQ(PixelBytes(*expected), PixelBytes(*written));
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--straighten", "--size", "0x20"}, "--size needs WIDTHxHEIGHT"},
        {{"--straighten", "--size", "20"}, "--size needs WIDTHxHEIGHT"},
        {{"--perspective", "--canvas", "wide"}, "--canvas is clip or fit"},
        {{"--quality", "0"}, "--quality needs a whole number from 1 to 100"},
        {{"--quality=high"}, "--quality needs a whole number from 1 to 100"},
    };
    for (const auto& [options, words] : bad) {
        const ToolRun run = RunTool(Args(options, m_input, m_dir.file("bad.png"), corners));
        EXPECT_EQ(2, run.status);
        EXPECT_EQ(1, Lines(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(words)) << run.err;
    }
    // A quad the perspective cannot take: the reason as the warp library words it.
    const ToolRun crossing =
        RunTool(Args({"--straighten"}, m_input, m_dir.file("bad.png"), {"0,0", "10,10", "10,0", "0,10"}));
    EXPECT_EQ(2, crossing.status);
    EXPECT_EQ("verlume-warp: two sides of the quadrilateral cross\n", crossing.err);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("bad.png")));
}

// --find-page prints the corners of the page a photo shows, and with --straighten writes what
// --straighten writes for them; a photo without a page: exit 1.
TEST_F(VerlumeWarp, FindPage) {
    const pagefind_testing::PagePhoto made = pagefind_testing::MakePagePhoto("wood", 3, 800, 600);
    const std::string page = m_dir.file("page.png");
    ASSERT_EQ(Ok, files::SaveImageByName(*pagefind_testing::ToBitmap(made), page).code);
    const ToolRun found = RunTool({"--find-page", page});
    ASSERT_EQ(0, found.status) << found.err;
    std::istringstream printed(found.out);
    std::vector<std::string> corners(4);
    for (int i = 0; i < 4; ++i) {
        printed >> corners[size_t(i)];
        int x = 0, y = 0;
        ASSERT_EQ(2, std::sscanf(corners[size_t(i)].c_str(), "%d,%d", &x, &y)) << found.out;
        EXPECT_LE(std::hypot(x - made.corners[size_t(i)].x, y - made.corners[size_t(i)].y), 10.0)
            << i; // 1 % of the diagonal
    }
    ASSERT_EQ(0, RunTool({"--straighten", "--find-page", page, m_dir.file("found.png")}).status);
    ASSERT_EQ(0, RunTool(Args({"--straighten"}, page, m_dir.file("given.png"), corners)).status);
    EXPECT_EQ(ReadFile(m_dir.file("given.png")), ReadFile(m_dir.file("found.png")));

    const ToolRun none = RunTool({"--find-page", m_input});
    EXPECT_EQ(1, none.status);
    EXPECT_EQ("verlume-warp: no page found in " + m_input + "\n", none.err);
    EXPECT_EQ(2, RunTool({"--find-page", m_input, "out.png"}).status);
    EXPECT_EQ(2, RunTool({"--straighten", "--find-page", m_input}).status);
}

// A phone photo, tagged and checked with the exiv2 command as a user would: it comes out
// upright with its camera, date and colour profile, orientation 1; --strip keeps only the
// profile, --strip-icc not even that.
TEST_F(VerlumeWarp, PhotoMetadataAsAUserChecksIt) {
    if (RunProgram("exiv2", {"--version"}).status != 0) GTEST_SKIP() << "the exiv2 command is not installed";
    std::mt19937 rng(62);
    const std::string photo = m_dir.file("photo.jpg");
    ASSERT_EQ(Ok, files::SaveImageByName(*RandomBitmap(PixelFormat24bppRGB, 64, 48, rng), photo).code);
    const QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    WriteFile(m_dir.file("photo.icc"), std::vector<uint8_t>(icc.begin(), icc.end()));
    ASSERT_EQ(0, RunProgram("exiv2", {"-M", "set Exif.Image.Make Acme", "-M", "set Exif.Image.Orientation 6", "-M",
                                      "set Exif.Photo.DateTimeOriginal 2026:07:14 10:20:30", photo}).status);
    ASSERT_EQ(0, RunProgram("exiv2", {"-iC", photo}).status);
    auto tag = [](const std::string& file, const std::string& key) {
        std::string v = RunProgram("exiv2", {"-Pv", "-K", key, file}).out;
        return v.substr(0, v.find_last_not_of("\n ") + 1);
    };
    auto profile = [](const std::string& file) { return RunProgram("exiv2", {"-pC", file}).out; };
    const std::vector<std::string> upright = {"0,0", "48,0", "48,64", "0,64"};
    const struct { std::vector<std::string> options; bool exif, icc; } cases[] = {
        {{}, true, true}, {{"--strip"}, false, true}, {{"--strip", "--strip-icc"}, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.size());
        const std::string out = m_dir.file("out.jpg");
        ASSERT_EQ(0, RunTool(Args(c.options, photo, out, upright)).status);
        EXPECT_EQ(48u, Bitmap::FromFile(out)->GetWidth());
        EXPECT_EQ(c.exif ? "Acme" : "", tag(out, "Exif.Image.Make"));
        EXPECT_EQ(c.exif ? "2026:07:14 10:20:30" : "", tag(out, "Exif.Photo.DateTimeOriginal"));
        EXPECT_EQ(c.exif ? "1" : "", tag(out, "Exif.Image.Orientation"));
        EXPECT_EQ(c.icc ? icc.toStdString() : "", profile(out));
    }
}

// Files that cannot be read or written: exit 1 and one line naming the file (every kind of bad
// file is checked where the images are decoded and written). Saving over the input works.
TEST_F(VerlumeWarp, BadFilesExitWithOneLine) {
    const std::vector<std::string> corners = {"0,0", "64,0", "64,48", "0,48"};
    WriteFile(m_dir.file("text.png"), std::string("not an image"));
    for (const auto& [in, out] : {std::pair{m_dir.file("text.png"), m_dir.file("out.png")}, std::pair{m_input, std::string("/dev/full")}}) {
        SCOPED_TRACE(in + " -> " + out);
        const ToolRun run = RunTool(Args({}, in, out, corners));
        EXPECT_EQ(1, run.status);
        EXPECT_EQ(1, Lines(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(in == m_input ? out : in)) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("out.png")));
    const std::string same = m_dir.file("same.png");
    std::filesystem::copy_file(m_input, same);
    EXPECT_EQ(0, RunTool(Args({}, same, same, corners)).status);
    EXPECT_NE(ReadFile(m_input), ReadFile(same));
}

// Limits a service sets, by option or environment: what is beyond them is refused with exit 1
// and one line naming the limit, before the memory is taken (a 35-byte GIF whose screen is
// 16383 x 16383 pixels is refused, not decoded); what is within them works as without.
TEST_F(VerlumeWarp, LimitsAServiceSets) {
    std::filesystem::copy_file(DataFile("screen-16383.gif"), m_dir.file("screen.gif"));
    const std::string corners = " 0,0 64,0 64,48 0,48", out = m_dir.file("out.png");
    auto run = [&](const std::string& environment, const std::string& args) {
        return RunProgram("/bin/sh", {"-c", environment + " exec " + VERLUME_WARP_EXE + " " + args});
    };
    const struct { std::string environment, args, words; } refused[] = {
        {"", "--max-pixels 3000 " + m_input + " " + out + corners, "is 64 x 48 pixels, more than the limit of 3000 pixels"},
        {"VERLUME_MAX_PIXELS=1000000", m_dir.file("screen.gif") + " " + out + corners, "more than the limit of 1000000 pixels"},
        {"VERLUME_MAX_MEMORY=100", m_dir.file("screen.gif") + " " + out + corners, "more than the limit of 100 MB"},
        {"", "--max-memory=1 --straighten --size 600x600 " + m_input + " " + out + corners, "the warp takes 2 MB, more than the limit of 1 MB"},
        {"", "--max-pixels 10000 --canvas fit " + m_input + " " + out + " 0,0 900,0 64,48 0,48", "the result would be"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.environment + " " + r.args);
        const ToolRun ran = run(r.environment, r.args);
        EXPECT_EQ(1, ran.status) << ran.err;
        EXPECT_EQ(1, Lines(ran.err)) << ran.err;
        EXPECT_NE(std::string::npos, ran.err.find(r.words)) << ran.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // Within the limits, the option over the environment; values they cannot take: exit 2.
    EXPECT_EQ(0, run("VERLUME_MAX_PIXELS=10", "--max-pixels 3072 --max-memory 1 " + m_input + " " + out + corners).status);
    for (const std::string bad : {"--max-pixels 0", "--max-memory=lots", "--max-pixels"})
        EXPECT_EQ(2, run("", bad + " " + m_input + " " + out + corners).status) << bad;
    EXPECT_EQ(2, run("VERLUME_MAX_MEMORY=-5", m_input + " " + out + corners).status);
}

// Under any limit on its address space the tool either does its work or says in one line that
// memory ran out, with what it needed: never another reason, a crash or an abort. The limits
// step from where the program can just start (its libraries and threads) to where it succeeds,
// for a JPEG and a PNG source, a PNG and a JPEG output, plain and smooth.
TEST_F(VerlumeWarp, UnderAnyMemoryLimitDoneOrNotEnoughMemory) {
    std::mt19937 rng(63);
    auto photo = RandomBitmap(PixelFormat24bppRGB, 1600, 1200, rng);
    ASSERT_EQ(Ok, files::SaveImageByName(*photo, m_dir.file("big.png")).code);
    ASSERT_EQ(Ok, files::SaveImageByName(*photo, m_dir.file("big.jpg")).code);
    auto limited = [&](int64_t kib, const std::string& args) {
        return RunProgram("/bin/sh", {"-c", "ulimit -v " + std::to_string(kib) + " && exec " + VERLUME_WARP_EXE + " " + args});
    };
    // AddressSanitizer reserves terabytes of shadow memory: such a build cannot start limited.
    if (limited(2000000, "--help").status != 0)
        GTEST_SKIP() << "the tool does not start under a 2 GB address-space limit (sanitizer build?)";
    int64_t start = 20000;
    while (limited(start, "--help").status != 0) start += 4000;
    const std::string corners = " 100,80 1500,30 1580,1150 20,1100";
    int failures = 0, successes = 0;
    for (const std::string in : {"big.jpg", "big.png"})
        for (const std::string out : {"out.png", "out.jpg"})
            for (const std::string options : {"", "--smooth "}) {
                const std::string args = options + m_dir.file(in) + " " + m_dir.file(out) + corners;
                for (int64_t kib = start;; kib += 3000) {
                    SCOPED_TRACE(args + " under " + std::to_string(kib) + " KiB");
                    const ToolRun run = limited(kib, args);
                    if (run.status == 0) break;
                    ++failures;
                    ASSERT_EQ(1, run.status) << run.err;
                    ASSERT_EQ(1, Lines(run.err)) << run.err;
                    ASSERT_NE(std::string::npos, run.err.find("not enough memory")) << run.err;
                    ASSERT_NE(std::string::npos, run.err.find(" MB")) << run.err; // what it needed
                    ASSERT_LT(kib, start + 400000) << "never succeeds";
                }
                ++successes;
            }
    EXPECT_EQ(8, successes);
    EXPECT_GT(failures, 8); // the limits did bite
}

// Permissions mean nothing to root; these rows run the tool as an ordinary user.
TEST_F(VerlumeWarp, UnreadableInputAndReadOnlyFolderAsAnOrdinaryUser) {
    std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all);
    const std::string locked = m_dir.file("locked.png");
    std::filesystem::copy_file(m_input, locked);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::create_directory(m_dir.file("readonly"));
    std::filesystem::permissions(m_dir.file("readonly"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                                             std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    std::filesystem::permissions(m_input, std::filesystem::perms::all);
    const std::vector<std::string> corners = {"0,0", "64,0", "64,48", "0,48"};
    auto asNobody = [&](const std::string& in, const std::string& out) {
        return RunProgram(
            "/usr/bin/setpriv",
            Args({"--reuid=65534", "--regid=65534", "--clear-groups", VERLUME_WARP_EXE}, in, out, corners));
    };
    const ToolRun unreadable = asNobody(locked, m_dir.file("readonly/../out.png"));
    EXPECT_EQ(1, unreadable.status) << unreadable.err;
    EXPECT_NE(std::string::npos, unreadable.err.find("may not be read")) << unreadable.err;
    const ToolRun readOnly = asNobody(m_input, m_dir.file("readonly/out.png"));
    EXPECT_EQ(1, readOnly.status) << readOnly.err;
    EXPECT_NE(std::string::npos, readOnly.err.find("Permission denied")) << readOnly.err;
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.file("readonly")));
}

} // namespace
