// The real program in a real X server (Xvfb with openbox), driven with xdotool as a person
// would: open an image, drag a corner, save, visit the home page, close. The saved file must
// be byte for byte what verlume-warp writes for the same corners.

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `command` run by the shell, which execs the program it starts.
std::unique_ptr<QProcess> Spawn(const std::string& command) {
    auto process = std::make_unique<QProcess>();
    process->start("/bin/sh", {"-c", QString::fromStdString(command)});
    process->waitForStarted();
    return process;
}

void Stop(std::unique_ptr<QProcess>& process) {
    if (!process) return;
    process->terminate();
    if (!process->waitForFinished(2000)) process->kill(), process->waitForFinished(2000);
    process.reset();
}

QImage Picture();

class EndToEnd : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/verlume-e2e-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_dir = pattern;
        // An X server on a free display; it writes the number it took.
        const fs::path displayFile = m_dir / "display";
        m_xvfb = Spawn("exec Xvfb -displayfd 3 -screen 0 1280x900x24 -dpi 96 -nolisten tcp 3>" +
                       Quote(displayFile.string()) + " 2>/dev/null");
        for (int i = 0; i < 100 && ReadText(displayFile).find('\n') == std::string::npos; ++i)
            std::this_thread::sleep_for(50ms);
        const std::string number = ReadText(displayFile);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        m_display = ":" + number.substr(0, number.find('\n'));
        m_openbox = Spawn("DISPLAY=" + m_display + " exec openbox >/dev/null 2>&1");
        std::this_thread::sleep_for(500ms);

        // The desktop's URL handler, replaced by one that writes down what it was given.
        fs::create_directory(m_dir / "bin");
        const fs::path handler = m_dir / "bin" / "xdg-open";
        std::ofstream(handler) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << Quote((m_dir / "urls").string()) << "\n";
        fs::permissions(handler, fs::perms::owner_all);
    }

    void TearDown() override {
        Stop(m_app);
        Stop(m_openbox);
        Stop(m_xvfb);
        std::error_code ignored;
        if (!std::getenv("VERLUME_E2E_KEEP")) fs::remove_all(m_dir, ignored);
    }

    int X(const std::string& args) {
        return std::system(("DISPLAY=" + m_display + " xdotool " + args + " >/dev/null 2>&1").c_str());
    }
    std::string XOut(const std::string& args) {
        const std::string out = (m_dir / "xout").string();
        // A search that finds nothing fails, with nothing printed.
        if (std::system(("DISPLAY=" + m_display + " xdotool " + args + " >" + Quote(out) + " 2>/dev/null").c_str()) != 0)
            return {};
        std::string text = ReadText(out);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }
    // Waits until no visible window's name contains `name`.
    void WaitForNoWindow(const std::string& name) {
        for (int i = 0; i < 100 && !XOut("search --onlyvisible --name " + Quote(name)).empty(); ++i)
            std::this_thread::sleep_for(100ms);
    }
    // The id of a visible window whose name contains `name`, waiting for it to appear.
    std::string WaitForWindow(const std::string& name) {
        for (int i = 0; i < 100; ++i) {
            std::string id = XOut("search --onlyvisible --name " + Quote(name));
            if (!id.empty()) return id.substr(0, id.find('\n'));
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }
    // Types `path` into the file dialog titled `title` and confirms it.
    bool ChooseInFileDialog(const std::string& title, const fs::path& path) {
        const std::string dialog = WaitForWindow(title);
        if (dialog.empty()) return false;
        X("windowactivate --sync " + dialog);
        X("type --delay 5 " + Quote(path.string()));
        X("key Return");
        WaitForNoWindow(title);
        return true;
    }
    // Answers the save dialog with `path` and waits until the file is there.
    bool SaveAs(const fs::path& path) {
        if (!ChooseInFileDialog("Save File", path)) return false;
        for (int i = 0; i < 50 && !fs::exists(path); ++i) std::this_thread::sleep_for(100ms);
        return fs::exists(path);
    }
    QImage Screenshot(const std::string& window = "-root") {
        const std::string file = (m_dir / "shot.ppm").string();
        if (std::system(("DISPLAY=" + m_display + " xwd -silent " + (window == "-root" ? window : "-id " + window) +
                         " | xwdtopnm >" + Quote(file) + " 2>/dev/null").c_str()) != 0)
            return {};
        return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
    }

    // Starts the program (`args` after its name) and returns its window, activated.
    std::string Launch(const std::string& args = "") {
        m_app = Spawn("cd " + Quote(m_dir.string()) + " && DISPLAY=" + m_display + " PATH=" +
                      Quote((m_dir / "bin").string()) + ":\"$PATH\" exec " + Quote(VERLUME_EXE) + " " + args + " >" +
                      Quote((m_dir / "app.log").string()) + " 2>&1");
        const std::string window = WaitForWindow("Verlume");
        if (!window.empty()) X("windowactivate --sync " + window);
        std::this_thread::sleep_for(500ms);
        return window;
    }
    std::string Title(const std::string& window) { return XOut("getwindowname " + window); }
    // Where the top-left pixel of `picture` shows in the window, once it is painted; (-1, -1)
    // when it does not show.
    QPoint FindPicture(const std::string& window, const QImage& picture) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const QImage shot = Screenshot(window);
            for (int y = 0; y + 240 < shot.height() && y < 300; ++y)
                for (int x = 0; x < 60; ++x) {
                    bool same = true;
                    for (QPoint p : {QPoint(100, 100), QPoint(37, 211), QPoint(250, 13), QPoint(199, 150)})
                        same = same && (shot.pixel(x + p.x(), y + p.y()) | 0xFF000000u) == picture.pixel(p);
                    if (same) return {x, y};
                }
            std::this_thread::sleep_for(100ms);
        }
        return {-1, -1};
    }
    // Presses the left button at `from` and moves to `to` (window coordinates) in `steps`
    // moves, holding the button.
    void Hold(const std::string& window, QPoint from, QPoint to, int steps) {
        auto moveTo = [&](QPoint p) { X("mousemove --window " + window + " " + std::to_string(p.x()) + " " + std::to_string(p.y())); };
        moveTo(from);
        X("mousedown 1");
        for (int step = 1; step <= steps; ++step) moveTo(from + (to - from) * step / steps);
    }
    void Drag(const std::string& window, QPoint from, QPoint to, int steps) {
        Hold(window, from, to, steps);
        std::this_thread::sleep_for(200ms);
        X("mouseup 1");
        std::this_thread::sleep_for(1s);
    }
    // Saves Picture() as `input`, starts the program with it, and gives its window and where
    // the picture's top-left shows in it.
    void LaunchWithPicture(const fs::path& input, std::string& window, QPoint& origin) {
        const QImage picture = Picture();
        ASSERT_TRUE(picture.save(QString::fromStdString(input.string()), "BMP"));
        window = Launch(Quote(input.string()));
        ASSERT_FALSE(window.empty()) << ReadText(m_dir / "app.log");
        origin = FindPicture(window, picture);
        ASSERT_NE(QPoint(-1, -1), origin);
    }
    // Closes the program with Escape and expects it to end well.
    void Quit(const std::string& window) {
        X("windowactivate --sync " + window);
        X("key Escape");
        ASSERT_TRUE(m_app->waitForFinished(10000)) << ReadText(m_dir / "app.log");
        EXPECT_EQ(QProcess::NormalExit, m_app->exitStatus());
        EXPECT_EQ(0, m_app->exitCode()) << ReadText(m_dir / "app.log");
    }

    fs::path m_dir;
    std::string m_display;
    std::unique_ptr<QProcess> m_xvfb, m_openbox, m_app;
};

// A 320 x 240 picture. The open dialog starts on "Bitmap Files (*.bmp)", so a BMP it is.
QImage Picture() {
    QImage picture(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) picture.setPixel(x, y, qRgb(x * 255 / 320, y * 255 / 240, (x / 20 + y / 20) % 2 ? 230 : 40));
    return picture;
}

// How far a row (dx 1) or column (dy 1) of the view's background reaches from `from`: the
// first pixel that is not the background is the view's edge.
int Extent(const QImage& shot, QPoint from, QPoint step) {
    const QRgb background = shot.pixel(from);
    QPoint p = from;
    while (shot.rect().contains(p) && shot.pixel(p) == background) p += step;
    return step.x() ? p.x() : p.y();
}

TEST_F(EndToEnd, OpenDragSaveAndClose) {
    const QImage picture = Picture();
    const fs::path input = m_dir / "picture.bmp", output = m_dir / "tilted.png";
    ASSERT_TRUE(picture.save(QString::fromStdString(input.string()), "BMP"));

    const std::string window = Launch();
    ASSERT_FALSE(window.empty()) << ReadText(m_dir / "app.log");
    EXPECT_EQ("Verlume", Title(window));
    const QImage empty = Screenshot(window);

    // File > Open with the keyboard, then the file's path typed.
    X("key alt+f");
    std::this_thread::sleep_for(300ms);
    X("key o");
    ASSERT_TRUE(ChooseInFileDialog("Open File", input));
    const QPoint origin = FindPicture(window, picture);
    ASSERT_NE(QPoint(-1, -1), origin) << "the picture does not show";
    EXPECT_EQ("picture.bmp - Verlume", Title(window));
    // The view sits 7 pixels from the left at 96 dpi, inside a 2-pixel edge.
    EXPECT_EQ(7 + 2, origin.x());
    // The status bar, empty before, now shows the picture's size.
    const QImage opened = Screenshot(window);
    const QRect statusBar(0, opened.height() - 16, opened.width() / 3, 14);
    EXPECT_NE(empty.copy(statusBar), opened.copy(statusBar)) << "the status bar shows nothing new";
    // and the image pixel under the pointer, as it moves.
    X("mousemove --window " + window + " " + std::to_string(origin.x() + 200) + " " + std::to_string(origin.y() + 150));
    std::this_thread::sleep_for(300ms);
    EXPECT_NE(opened.copy(statusBar), Screenshot(window).copy(statusBar)) << "the pointer's position does not show";
    // The view's client area, where its background meets its edge.
    const int clientWidth = Extent(opened, origin + QPoint(330, 100), {1, 0}) - origin.x();
    const int clientHeight = Extent(opened, origin + QPoint(100, 250), {0, 1}) - origin.y();
    ASSERT_GT(clientWidth, 320);
    ASSERT_GT(clientHeight, 240);

    // Drag corner 2 from (320, 240) to (260, 200); the title marks the unsaved edit.
    Drag(window, origin + QPoint(318, 238), origin + QPoint(260, 200), 6);
    EXPECT_EQ("picture.bmp* - Verlume", Title(window));

    // "Save" is next in the tab order after "Open", which has the focus.
    X("windowactivate --sync " + window);
    X("key Tab space");
    ASSERT_TRUE(SaveAs(output)) << ReadText(m_dir / "app.log");
    EXPECT_EQ("picture.bmp - Verlume", Title(window)); // saved: no marker; the open file stays named

    // What the user sees: the warped picture with its handles.
    std::this_thread::sleep_for(500ms);
    if (const char* keep = std::getenv("VERLUME_E2E_SCREENSHOT")) Screenshot(window).save(keep);

    // Ctrl + 0 fits the picture into the view, then corner 1 is dragged there and saved.
    const double fit = std::min(clientWidth / 320.0, clientHeight / 240.0);
    X("windowactivate --sync " + window);
    X("key ctrl+0");
    std::this_thread::sleep_for(500ms);
    const int fromX = std::min(int(320 * fit), clientWidth - 1), toX = int(clientWidth * 0.8), toY = int(clientHeight * 0.1);
    Drag(window, origin + QPoint(fromX, 1), origin + QPoint(toX, toY), 6);
    const fs::path fitted = m_dir / "fitted.png";
    // "Save" kept the focus from the first save.
    X("windowactivate --sync " + window);
    X("key space");
    ASSERT_TRUE(SaveAs(fitted)) << ReadText(m_dir / "app.log");

    // "Home Page" once, then Escape closes the program.
    X("windowactivate --sync " + window);
    X("key Tab space");
    std::this_thread::sleep_for(500ms);
    Quit(window);

    // The same warp from the command line gives the same file, byte for byte.
    const fs::path reference = m_dir / "reference.png";
    ASSERT_EQ(0, std::system((Quote(VERLUME_WARP_EXE) + " " + Quote(input.string()) + " " + Quote(reference.string()) +
                              " 0,0 320,0 260,200 0,240").c_str()));
    const std::string expected = ReadText(reference), saved = ReadText(output);
    EXPECT_TRUE(expected == saved) << "the saved file (" << saved.size() << " bytes) differs from verlume-warp's ("
                                   << expected.size() << " bytes)";

    // At fit the dragged corner is the image pixel boundary nearest to the pointer: the
    // corner the drag produced lies within a pixel of the one the fit scale gives.
    const std::string fittedBytes = ReadText(fitted);
    const int cornerX = int(std::lround(toX / fit)), cornerY = int(std::lround(toY / fit));
    bool found = false;
    for (int dy = -1; dy <= 1 && !found; ++dy)
        for (int dx = -1; dx <= 1 && !found; ++dx) {
            const std::string corner = std::to_string(cornerX + dx) + "," + std::to_string(cornerY + dy);
            ASSERT_EQ(0, std::system((Quote(VERLUME_WARP_EXE) + " " + Quote(input.string()) + " " +
                                      Quote(reference.string()) + " 0,0 " + corner + " 260,200 0,240").c_str()));
            found = ReadText(reference) == fittedBytes;
        }
    EXPECT_TRUE(found) << "no corner near (" << cornerX << "," << cornerY << ") gives the file saved at fit";

    // The home page: once for the button, once on exit.
    std::string urls;
    for (int i = 0; i < 50; ++i) {
        urls = ReadText(m_dir / "urls");
        if (std::count(urls.begin(), urls.end(), '\n') >= 2) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ("https://verlume.example.org/\nhttps://verlume.example.org/\n", urls);
}

// View > Live Preview with the key L: held mid-drag, the picture already follows the corner.
TEST_F(EndToEnd, LivePreviewShowsThePictureBeforeTheRelease) {
    std::string window;
    QPoint origin;
    ASSERT_NO_FATAL_FAILURE(LaunchWithPicture(m_dir / "picture.bmp", window, origin));
    X("key l");
    std::this_thread::sleep_for(300ms);
    // Corner 2 from (320, 240) to (200, 150), held there.
    Hold(window, origin + QPoint(318, 238), origin + QPoint(200, 150), 6);
    std::this_thread::sleep_for(500ms);
    const QImage held = Screenshot(window);
    EXPECT_EQ("picture.bmp - Verlume", Title(window)); // nothing rendered before the release
    X("mouseup 1");
    std::this_thread::sleep_for(500ms);
    // Where the picture's corner was, the pale fill of nothing shows; inside, the picture.
    EXPECT_EQ(qRgb(0xFF, 0xFF, 0xC8), held.pixel(origin + QPoint(300, 225)) | 0xFF000000u);
    EXPECT_NE(qRgb(0xFF, 0xFF, 0xC8), held.pixel(origin + QPoint(100, 100)) | 0xFF000000u);
    X("key ctrl+z"); // back to the picture as opened: nothing to ask about on the way out
    std::this_thread::sleep_for(300ms);
    Quit(window);
}

} // namespace
