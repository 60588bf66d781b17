#pragma once
// Which vector instructions the warp's kernels may use on this processor. Decided once per
// process; the environment can ask for less: VERLUME_NO_SIMD=1 takes the scalar paths
// everywhere, VERLUME_NO_AVX512=1 at most AVX2 (for tests and comparisons).

namespace warp {

enum class SimdLevel {
    Scalar,
    Avx2,   // AVX2 with FMA: four double lanes
    Avx512, // AVX-512 F and DQ besides: eight double lanes
};

SimdLevel UsableSimd();

} // namespace warp
