// The pipeline a user would script with OpenCV instead of verlume-warp: read a photo, place it
// on four corners with the perspective map into BGRA with a transparent border, write the
// file at OpenCV's defaults. Timed as a whole process beside the tool (docs/performance.md):
//
//   build/bench/pipeline_opencv [--time] IN OUT X0,Y0 X1,Y1 X2,Y2 X3,Y3    (outline order)
//   build/tools/verlume-warp --perspective [--time] IN OUT X0,Y0 X1,Y1 X2,Y2 X3,Y3
//
// --time prints how long the process's first warp took, thread start and the destination's
// first page faults included, as verlume-warp --time reports its own.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool time = argc > 1 && std::strcmp(argv[1], "--time") == 0;
    if (time) {
        --argc;
        ++argv;
    }
    if (argc != 7) {
        std::fprintf(stderr, "usage: pipeline_opencv [--time] IN OUT X0,Y0 X1,Y1 X2,Y2 X3,Y3\n");
        return 2;
    }
    cv::Point2f corners[4];
    for (int i = 0; i < 4; ++i)
        if (std::sscanf(argv[3 + i], "%f,%f", &corners[i].x, &corners[i].y) != 2) {
            std::fprintf(stderr, "pipeline_opencv: bad corner %s\n", argv[3 + i]);
            return 2;
        }
    const cv::Mat photo = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (photo.empty()) {
        std::fprintf(stderr, "pipeline_opencv: cannot read %s\n", argv[1]);
        return 1;
    }
    cv::Mat bgra, placed;
    cv::cvtColor(photo, bgra, cv::COLOR_BGR2BGRA);
    const float w = float(photo.cols), h = float(photo.rows);
    const cv::Point2f rectangle[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    const auto start = std::chrono::steady_clock::now();
    cv::warpPerspective(bgra, placed, cv::getPerspectiveTransform(rectangle, corners), photo.size(),
                        cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0, 0));
    if (time)
        std::printf(
            "warp %.1f ms\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!cv::imwrite(argv[2], placed)) {
        std::fprintf(stderr, "pipeline_opencv: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
