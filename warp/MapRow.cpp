#include "MapRow.h"

#include "MapRowScalar.h"
#include "MapRowVector.h"
#include "SimdSupport.h"

namespace warp {

namespace {

void MapRunScalarKernel(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                        ColumnFields, bool) {
    MapRunScalar(m, y, x0, count, out);
}

} // namespace

const MapKernels& ChosenMapKernels() {
    static const MapKernels kernels = [] {
        switch (UsableSimd()) {
        case SimdLevel::Avx512: return MapKernels{8, MapRunAvx512, SlopesOfTangentsAvx512};
        case SimdLevel::Avx2: return MapKernels{4, MapRunAvx2, SlopesOfTangentsAvx2};
        case SimdLevel::Scalar: break;
        }
        return MapKernels{0, MapRunScalarKernel, SlopesOfTangentsScalar};
    }();
    return kernels;
}

void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out, ColumnMemo* memo,
            Cull cull) {
    ChosenMapKernels().mapRun(m, y, x0, count, out, memo ? memo->At(x0, count) : ColumnFields{},
                              cull == Cull::Unseen);
}

int SlopesOfTangents(const float* t, float* slope, int n, uint8_t* redone) {
    return ChosenMapKernels().slopesOfTangents(t, slope, n, redone);
}

} // namespace warp
