// verlume-warp: warps an image file onto four corners and saves the result, exactly as the
// program does when a corner is released and the result saved.

#include "files/ImageFiles.h"
#include "imaging/Startup.h"
#include "pagefind/FindPage.h"
#include "warp/PlanRows.h"
#include "warp/Transform.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: verlume-warp [--perspective | --straighten [--size WxH]] [--canvas clip|fit]\n"
    "                    [--smooth | --neighbourhood N] [--quality Q] [--strip [--strip-icc]]\n"
    "                    [--max-pixels N] [--max-memory MB] [--time]\n"
    "                    INPUT OUTPUT X0,Y0 X1,Y1 X2,Y2 X3,Y3\n"
    "       verlume-warp --find-page INPUT\n"
    "       verlume-warp --straighten --find-page [options] INPUT OUTPUT\n";

constexpr const char* kHelp =
    "\n"
    "Warps INPUT so that its rectangle lands on the four corners and saves it as OUTPUT.\n"
    "Corners are integers (negative allowed) in outline order: top-left, top-right,\n"
    "bottom-right, bottom-left. The format of OUTPUT follows its last three characters:\n"
    "jpg JPEG, gif GIF, tif TIFF, bmp BMP, anything else PNG.\n"
    "INPUT opens upright as its EXIF orientation says. Its colour profile, EXIF and XMP go\n"
    "into a PNG, JPEG or TIFF OUTPUT (orientation 1, the new size, no thumbnail).\n"
    "\n"
    "  --perspective      the true perspective mapping: straight lines stay straight\n"
    "  --straighten       the corners lie on a page in INPUT (its top-left, top-right,\n"
    "                     bottom-right and bottom-left); OUTPUT is that page, upright, in\n"
    "                     its estimated proportions, its longer side the quadrilateral's\n"
    "                     longest side\n"
    "  --size WxH         the straightened page's size in pixels instead\n"
    "  --find-page        looks for the page in INPUT: alone, prints its corners (in the\n"
    "                     order the corners are given) or exits 1 with \"no page found\";\n"
    "                     with --straighten, straightens the page it finds\n"
    "  --canvas clip|fit  clip (the default): OUTPUT has INPUT's size; fit: OUTPUT grows to\n"
    "                     hold the image and the corners, transparent around the picture\n"
    "  --smooth           antialiased edges, and every source pixel counted where the picture\n"
    "                     shrinks, instead of the 2 x 2 pixels around each mapped position\n"
    "  --neighbourhood N  1 (or less) takes the nearest source pixel, 2 (the default) blends\n"
    "                     the 2 x 2 pixels around the mapped position\n"
    "  --quality Q        JPEG quality from 1 to 100 (default 90)\n"
    "  --strip            writes no EXIF or XMP (the camera, the date, the place)\n"
    "  --strip-icc        with --strip, no colour profile either\n"
    "  --max-pixels N     refuses an INPUT, or a result, of more than N pixels (exit 1),\n"
    "                     before memory is taken for it; VERLUME_MAX_PIXELS if not given\n"
    "  --max-memory MB    refuses an INPUT whose decode, or a warp whose result, would take\n"
    "                     more than MB megabytes of image memory; VERLUME_MAX_MEMORY if not\n"
    "                     given. The program's own code and libraries come on top (about 40 MB).\n"
    "                     A PNG, BMP or TIFF OUTPUT is written a band at a time, never held\n"
    "                     whole (a TIFF only without EXIF, XMP or a profile to write)\n"
    "  --time             prints how long the decode, the warp and the encode took, in\n"
    "                     milliseconds, one line each on standard error\n"
    "  --help             prints this text\n"
    "  --version          prints the version\n"
    "\n"
    "Exit status: 0 done, 1 INPUT could not be read or OUTPUT not written, 2 bad arguments.\n";

std::optional<int32_t> ParseInt(std::string_view text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<imaging::Point> ParseCorner(std::string_view text) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    auto x = ParseInt(text.substr(0, comma)), y = ParseInt(text.substr(comma + 1));
    if (!x || !y) return std::nullopt;
    return imaging::Point{*x, *y};
}

// Keeps what decoder libraries print straight to standard error (libpng, libtiff) out of the
// tool's output while it exists; the tool reports failures itself.
class QuietStandardError {
public:
    QuietStandardError() : m_saved(::dup(2)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0) ::dup2(null, 2);
        if (null >= 0) ::close(null);
    }
    ~QuietStandardError() {
        if (m_saved < 0) return;
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int m_saved;
};

class Stopwatch {
public:
    double Ms() const { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count(); }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

int BadArguments(const std::string& why) {
    std::fprintf(stderr, "verlume-warp: %s\n%s", why.c_str(), kUsage);
    return 2;
}

// A value the tool cannot work with: one line.
int BadValue(const std::string& why) {
    std::fprintf(stderr, "verlume-warp: %s\n", why.c_str());
    return 2;
}

// An option `name` given as "name VALUE" or "name=VALUE": nothing when argv[i] is another
// argument; false when the value is missing; true with `value` set.
std::optional<bool> OptionValue(std::string_view name, int argc, char** argv, int& i, std::string_view& value) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 == argc) return false;
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return std::nullopt;
}

// A count of at least 1, as the limits take them.
std::optional<int64_t> ParseCount(std::string_view text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 1) return std::nullopt;
    return value;
}

// Why the warp may not go ahead under the caller's limits; empty when it may. The result
// takes 4 bytes a pixel beside the source, or when written `inBands` at most what the encoder
// holds of it at a time (a band of 16 MB, and as much again compressed).
std::string BeyondLimits(const imaging::Bitmap& source, const warp::TransformPlan& plan, bool inBands,
                         std::optional<int64_t> pixelLimit, std::optional<int64_t> memoryLimitMB) {
    const int64_t pixels = int64_t(plan.width) * int64_t(plan.height);
    if (pixelLimit && pixels > *pixelLimit)
        return "the result would be " + std::to_string(plan.width) + " x " + std::to_string(plan.height) +
               " pixels, more than the limit of " + std::to_string(*pixelLimit) + " pixels";
    const uint64_t sourceBytes =
        (uint64_t(source.GetWidth()) * imaging::GetPixelFormatSize(source.GetPixelFormat()) + 7) / 8 * source.GetHeight();
    constexpr uint64_t kHeldInBands = uint64_t(32) << 20;
    const uint64_t resultBytes = uint64_t(pixels) * 4;
    const uint64_t bytes = sourceBytes + (inBands ? std::min(resultBytes, kHeldInBands) : resultBytes);
    if (memoryLimitMB && bytes > uint64_t(*memoryLimitMB) << 20)
        return "the warp takes " + std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB, more than the limit of " +
               std::to_string(*memoryLimitMB) + " MB";
    return {};
}

// Renders the plan and saves the result as OUTPUT. A PNG, BMP or TIFF is rendered band by band
// as its encoder takes it where it can (SavesInBands); otherwise the result is rendered whole,
// and the source let go before the encode. With `time`, how long the warp and the encode took.
imaging::StatusRecord WarpAndSave(std::unique_ptr<imaging::Bitmap> source, const warp::TransformPlan& plan,
                                  int neighbourhood, const std::string& output, const imaging::SaveOptions& saving,
                                  bool time) {
    auto report = [&](double warpMs, double encodeMs) {
        if (!time) return;
        std::fprintf(stderr, "verlume-warp: warp of %lld x %lld pixels took %.1f ms\n", (long long)plan.width,
                     (long long)plan.height, warpMs);
        std::fprintf(stderr, "verlume-warp: encode of %s took %.1f ms\n", output.c_str(), encodeMs);
    };
    if (files::SavesInBands(output, saving)) {
        warp::PlanRows result(*source, plan, neighbourhood);
        Stopwatch save;
        const imaging::StatusRecord saved = files::SaveBandsByName(result, output, saving);
        report(result.RenderMs(), save.Ms() - result.RenderMs());
        return saved;
    }
    Stopwatch warp;
    std::string why;
    std::unique_ptr<imaging::Bitmap> result = warp::RenderTransform(source.get(), plan, neighbourhood, &why);
    const double warpMs = warp.Ms();
    source.reset(); // the encode needs only the result and what it carries
    if (!result) return {imaging::GenericError, why};
    Stopwatch encode;
    const imaging::StatusRecord saved = files::SaveImageByName(*result, output, saving);
    report(warpMs, encode.Ms());
    return saved;
}

std::optional<warp::PageSize> ParseSize(std::string_view text) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto w = ParseInt(text.substr(0, x)), h = ParseInt(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1) return std::nullopt;
    return warp::PageSize{*w, *h};
}

} // namespace

int main(int argc, char** argv) {
    // Decoders report damaged files through Qt's warnings; the tool says it in one line.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    std::vector<std::string_view> positional;
    warp::Transform transform;
    int neighbourhood = 2;
    imaging::SaveOptions saving;
    bool time = false, strip = false, stripIcc = false, findPage = false;
    std::optional<std::string_view> maxPixels, maxMemory; // as given, checked below
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--time") {
            time = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("verlume-warp %s\n", VERLUME_VERSION);
            return 0;
        }
        if (arg == "--perspective") {
            transform.mapping = warp::Mapping::Perspective;
            continue;
        }
        if (arg == "--straighten") {
            transform.direction = warp::Direction::Straighten;
            continue;
        }
        if (arg == "--find-page") {
            findPage = true;
            continue;
        }
        if (arg == "--smooth") {
            transform.smooth = true;
            continue;
        }
        if (arg == "--strip" || arg == "--strip-icc") {
            (arg == "--strip" ? strip : stripIcc) = true;
            continue;
        }
        std::string_view value;
        if (const auto taken = OptionValue("--neighbourhood", argc, argv, i, value)) {
            if (!*taken) return BadArguments("--neighbourhood needs a number");
            auto n = ParseInt(value);
            if (!n) return BadArguments("--neighbourhood needs a whole number, not \"" + std::string(value) + "\"");
            neighbourhood = *n;
            continue;
        }
        if (const auto taken = OptionValue("--quality", argc, argv, i, value)) {
            auto q = *taken ? ParseInt(value) : std::nullopt;
            if (!q || *q < 1 || *q > 100) return BadValue("--quality needs a whole number from 1 to 100, not \"" + std::string(value) + "\"");
            saving.jpegQuality = *q;
            continue;
        }
        if (const auto taken = OptionValue("--max-pixels", argc, argv, i, value)) {
            maxPixels = *taken ? value : std::string_view();
            continue;
        }
        if (const auto taken = OptionValue("--max-memory", argc, argv, i, value)) {
            maxMemory = *taken ? value : std::string_view();
            continue;
        }
        if (const auto taken = OptionValue("--size", argc, argv, i, value)) {
            auto size = *taken ? ParseSize(value) : std::nullopt;
            if (!size) return BadValue("--size needs WIDTHxHEIGHT in whole pixels, at least 1x1, not \"" + std::string(value) + "\"");
            transform.pageSize = size;
            continue;
        }
        if (const auto taken = OptionValue("--canvas", argc, argv, i, value)) {
            if (*taken && value == "clip") transform.canvas = warp::CanvasChoice::ClipToImage;
            else if (*taken && value == "fit") transform.canvas = warp::CanvasChoice::FitResult;
            else return BadValue("--canvas is clip or fit, not \"" + std::string(value) + "\"");
            continue;
        }
        if (arg == "--") {
            for (++i; i < argc; ++i) positional.push_back(argv[i]);
            break;
        }
        // A lone "-" or a negative number such as -5,10 is an argument (a corner, perhaps a bad
        // one), not an option.
        const bool negativeNumber = arg.size() > 1 && arg[1] >= '0' && arg[1] <= '9';
        if (arg.size() > 1 && arg[0] == '-' && !negativeNumber)
            return BadArguments("unknown option " + std::string(arg));
        positional.push_back(arg);
    }
    if (transform.pageSize && transform.direction != warp::Direction::Straighten)
        return BadArguments("--size goes with --straighten");
    if (stripIcc && !strip) return BadArguments("--strip-icc goes with --strip");
    // The limits, from the options or else the environment, as services that wrap the tool set them.
    std::optional<int64_t> pixelLimit, memoryLimitMB;
    for (auto [given, variable, name, limit] : {std::tuple{maxPixels, "VERLUME_MAX_PIXELS", "--max-pixels", &pixelLimit},
                                               std::tuple{maxMemory, "VERLUME_MAX_MEMORY", "--max-memory", &memoryLimitMB}}) {
        const char* set = std::getenv(variable);
        if (!given && set && *set) given = set;
        if (!given) continue;
        *limit = ParseCount(*given);
        if (!*limit)
            return BadValue(std::string(name) + " (or " + variable + ") needs a whole number of at least 1, not \"" +
                            std::string(*given) + "\"");
    }
    const bool onlyFind = findPage && transform.direction != warp::Direction::Straighten;
    const size_t expected = onlyFind ? 1 : findPage ? 2 : 6;
    if (positional.size() != expected)
        return BadArguments(std::string(onlyFind   ? "expected INPUT"
                                        : findPage ? "expected INPUT and OUTPUT"
                                                   : "expected INPUT, OUTPUT and four corners") +
                            ", got " + std::to_string(positional.size()) + " arguments");
    warp::Corners corners{};
    if (!findPage) {
        imaging::Point outline[4];
        for (int c = 0; c < 4; ++c) {
            auto corner = ParseCorner(positional[2 + c]);
            if (!corner)
                return BadArguments("bad corner " + std::to_string(c) + ": \"" +
                                    std::string(positional[2 + c]) +
                                    "\"; it must be X,Y in whole numbers from -2147483648 to 2147483647");
            outline[c] = *corner;
        }
        corners = warp::Corners::FromOutline(outline);
    }
    // What the corners cannot do is told before any file is read.
    if (!findPage && (transform.direction == warp::Direction::Straighten ||
                      transform.mapping == warp::Mapping::Perspective)) {
        if (const warp::QuadProblem problem = warp::CheckQuad(corners); problem != warp::QuadProblem::None)
            return BadValue(warp::Describe(problem));
    }
    const std::string input(positional[0]), output(onlyFind ? "" : positional[1]);

    imaging::ImagingStartup();
    if (pixelLimit) imaging::SetDecodeLimit(*pixelLimit);
    if (memoryLimitMB) imaging::SetDecodeMemoryLimit(uint64_t(*memoryLimitMB) << 20);
    int status = 0;
    {
        imaging::StatusRecord why;
        std::unique_ptr<imaging::Bitmap> source;
        Stopwatch decode;
        {
            QuietStandardError quiet;
            source = files::OpenImageCopy(input, &why);
        }
        if (time) std::fprintf(stderr, "verlume-warp: decode of %s took %.1f ms\n", input.c_str(), decode.Ms());
        std::optional<warp::Corners> found;
        if (source && findPage) found = pagefind::FindPage(*source);
        if (!source) {
            std::fprintf(stderr, "verlume-warp: %s\n", why.reason.c_str());
            status = 1;
        } else if (findPage && !found) {
            std::fprintf(stderr, "verlume-warp: no page found in %s\n", input.c_str());
            status = 1;
        } else if (onlyFind) {
            const imaging::Point outline[4] = {found->topLeft, found->topRight, found->bottomRight,
                                               found->bottomLeft};
            for (int c = 0; c < 4; ++c)
                std::printf("%d,%d%s", outline[c].X, outline[c].Y, c == 3 ? "\n" : " ");
        } else {
            if (found) corners = *found;
            const uint32_t width = source->GetWidth(), height = source->GetHeight();
            const warp::TransformPlan plan = warp::PlanTransform(transform, corners, width, height);
            const imaging::Metadata kept = files::MetadataToKeep(source->GetMetadata(), strip, !stripIcc);
            saving.metadata = &kept;
            if (const std::string beyond =
                    BeyondLimits(*source, plan, files::SavesInBands(output, saving), pixelLimit, memoryLimitMB);
                !beyond.empty()) {
                std::fprintf(stderr, "verlume-warp: %s\n", beyond.c_str());
                imaging::ImagingShutdown();
                return 1;
            }
            if (!plan.problem.empty()) {
                status = BadValue(plan.problem);
            } else if (const imaging::StatusRecord saved =
                           WarpAndSave(std::move(source), plan, neighbourhood, output, saving, time);
                       saved.code != imaging::Ok) {
                std::fprintf(stderr, "verlume-warp: %s\n", saved.reason.c_str());
                status = 1;
            }
        }
    }
    imaging::ImagingShutdown();
    return status;
}
