// The perspective mapping in four double lanes of AVX2.

#include "Avx2Lanes.h"
#include "PerspectiveRunVector.h"

#define PERSPECTIVE_RUN_NAME MapPerspectiveRunAvx2
#include "PerspectiveRunVector.inc"
