// The perspective mapping in eight double lanes of AVX-512.

#include "Avx512Lanes.h"
#include "PerspectiveRunVector.h"

#define PERSPECTIVE_RUN_NAME MapPerspectiveRunAvx512
#include "PerspectiveRunVector.inc"
