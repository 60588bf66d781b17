#include "SimdSupport.h"

#include <cstdlib>
#include <string_view>

namespace warp {

namespace {

bool IsSetToOne(const char* variable) {
    const char* value = std::getenv(variable);
    return value && std::string_view(value) == "1";
}

} // namespace

SimdLevel UsableSimd() {
    // The vector arc tangent also uses FMA instructions.
    static const SimdLevel level = [] {
        if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma") ||
            IsSetToOne("VERLUME_NO_SIMD"))
            return SimdLevel::Scalar;
        if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512dq") ||
            IsSetToOne("VERLUME_NO_AVX512"))
            return SimdLevel::Avx2;
        return SimdLevel::Avx512;
    }();
    return level;
}

} // namespace warp
