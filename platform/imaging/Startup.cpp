#include "Startup.h"

#include "Encoders.h"

#include <QImageReader>

#include <atomic>

namespace imaging {

namespace {
std::atomic<int> g_started{0};
}

Status ImagingStartup(uintptr_t* token, const StartupInput* input) {
    if (token == nullptr || (input && input->Version != 1)) return InvalidParameter;
    (void)QImageReader::supportedImageFormats();
    (void)GetImageEncoders();
    *token = uintptr_t(++g_started);
    return Ok;
}

void ImagingShutdown(uintptr_t token) {
    if (token != 0 && g_started > 0) --g_started;
}

} // namespace imaging
