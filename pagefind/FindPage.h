#pragma once
// Finding the page in a photo of a document, a whiteboard or a screen: the corners a
// Straighten would take. The image analysis is OpenCV's; nothing else in the program sees it.

#include "imaging/Bitmap.h"
#include "warp/Corners.h"

#include <optional>

namespace pagefind {

// The corners of the most likely page in `photo`, in outline order as the photo shows it (the
// corner nearest the photo's top-left first, then clockwise), image pixels, rounded to the
// nearest. A corner that the frame cuts off or something covers lies where the sides that are
// seen meet, which may be outside the image. Nothing when no large convex quadrilateral with
// strong straight sides and an inside distinct from its outside is found, when the photo has no
// content or cannot be locked as 32bppARGB, or when memory runs out. The photo is only read.
std::optional<warp::Corners> FindPage(imaging::Bitmap& photo);

} // namespace pagefind
