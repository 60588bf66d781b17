#include "Startup.h"

#include "Encoders.h"
#include "ParallelRows.h"

#include <QImageReader>

namespace imaging {

Status ImagingStartup() {
    (void)QImageReader::supportedImageFormats();
    return GetImageEncoders().empty() ? NotImplemented : Ok;
}

void ImagingShutdown() { StopParallelRows(); }

} // namespace imaging
