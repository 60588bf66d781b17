#pragma once
// Start-up and shutdown of the imaging layer. The layer needs neither a display nor an
// application object; start it before the first image is made and shut it down after the last
// one is gone.

#include "Status.h"

namespace imaging {

// Loads the codec plugins once, so that the first Open or Save does not pay for it.
Status ImagingStartup();
// Stops the threads that renders and encoders share out their rows to; work after it runs on
// the calling thread alone.
void ImagingShutdown();

} // namespace imaging
