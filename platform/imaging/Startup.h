#pragma once
// Start-up and shutdown of the imaging layer. The layer needs neither a display nor an
// application object; start it before the first image is made and shut it down after the last
// one is gone.

#include "Status.h"
#include "Types.h"

#include <cstdint>

namespace imaging {

struct StartupInput {
    uint32_t Version = 1;
};

// Starts the layer and hands out a token for ImagingShutdown. Loads the codec plugins once,
// so that the first Open or Save does not pay for it.
Status ImagingStartup(uintptr_t* token, const StartupInput* input = nullptr);
void ImagingShutdown(uintptr_t token);

} // namespace imaging
