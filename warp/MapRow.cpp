#include "MapRow.h"

#include "MapRowVector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string_view>

namespace warp {

namespace {

bool IsSetToOne(const char* variable) {
    const char* value = std::getenv(variable);
    return value && std::string_view(value) == "1";
}

} // namespace

int VectorMappingLanes() {
    // The vector arc tangent also uses FMA instructions. VERLUME_NO_SIMD=1 takes the scalar
    // path everywhere, as on processors without them; VERLUME_NO_AVX512=1 the four lanes.
    static const int lanes = [] {
        if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma") || IsSetToOne("VERLUME_NO_SIMD")) return 0;
        if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512dq") || IsSetToOne("VERLUME_NO_AVX512")) return 4;
        return 8;
    }();
    return lanes;
}

bool HasVectorMapping() { return VectorMappingLanes() > 0; }

void MapRunScalar(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    for (int32_t i = 0; i < count; ++i) {
        const SourcePosition p = MapToSource(m, x0 + i, y);
        out.iu[i] = TruncateToIndex(p.u);
        out.iv[i] = TruncateToIndex(p.v);
        out.fx[i] = p.u - double(out.iu[i]);
        out.fy[i] = p.v - double(out.iv[i]);
    }
}

ColumnMemo::ColumnMemo(int32_t first, int32_t columns)
    : m_first(first), m_columns(std::max(columns, 0)), m_stride((int64_t(m_columns) + 7) & ~int64_t(7)) {
    // Eight doubles of slack to align the start to 64 bytes; the keys start as NaN, which no
    // intercept equals.
    m_storage.reset(new (std::nothrow) double[size_t(kFields * m_stride + 8)]);
    if (m_storage == nullptr) {
        m_data = nullptr;
        return;
    }
    const auto address = reinterpret_cast<uintptr_t>(m_storage.get());
    m_data = m_storage.get() + ((64 - address % 64) % 64) / sizeof(double);
    std::fill_n(m_data, m_stride, std::nan(""));
}

bool ColumnMemo::Pays(const QuadMapping& m) { return !m.useColVanish && std::fabs(m.kRight) > 0x1p20f; }

double* ColumnMemo::At(int32_t x, int32_t count) const {
    const int64_t offset = int64_t(x) - m_first;
    if (m_data == nullptr || offset < 0 || count < 0 || offset + count > m_columns || offset % 8 != 0) return nullptr;
    return m_data + offset;
}

bool BeyondTopOrBottom(const QuadMapping& m, int32_t y, int32_t x0, int32_t count) {
    // A side is a half-plane: both ends of the pixels beyond it are enough.
    auto beyond = [&](const EdgeSide& side) { return side.At(x0, y) > 0 && side.At(double(x0) + count - 1, y) > 0; };
    return beyond(m.beyond[0]) || beyond(m.beyond[2]);
}

SideStretches BeyondLeftOrRight(const QuadMapping& m, int32_t y, int32_t x0, int32_t count) {
    SideStretches s{0, 0};
    for (const EdgeSide& side : {m.beyond[3], m.beyond[1]}) {
        // Pixel i is beyond where first + side.a * i > 0.
        const double first = side.At(x0, y), step = side.a;
        auto upTo = [&](double i) { return int32_t(std::clamp(std::ceil(i), 0.0, double(count))); };
        if (first > 0) s.leading = std::max(s.leading, step >= 0 ? count : upTo(first / -step));
        else if (step > 0) s.trailing = std::max(s.trailing, count - upTo(-first / step + 0x1p-20));
    }
    s.trailing = std::min(s.trailing, count - s.leading);
    return s;
}

void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out, ColumnMemo* memo,
            Cull cull) {
    double* kept = memo != nullptr ? memo->At(x0, count) : nullptr;
    const ColumnFields fields{kept, kept != nullptr ? memo->Stride() : 0};
    const bool unseen = cull == Cull::Unseen;
    switch (VectorMappingLanes()) {
    case 8: MapRunAvx512(m, y, x0, count, out, fields, unseen); break;
    case 4: MapRunAvx2(m, y, x0, count, out, fields, unseen); break;
    default: MapRunScalar(m, y, x0, count, out);
    }
}

float SlopeOfTangent(float t) { return float(std::tan(double(float(std::atan(double(t)))))); }

int SlopesOfTangents(const float* t, float* slope, int n, uint8_t* redone) {
    switch (VectorMappingLanes()) {
    case 8: return SlopesOfTangentsAvx512(t, slope, n, redone);
    case 4: return SlopesOfTangentsAvx2(t, slope, n, redone);
    }
    for (int i = 0; i < n; ++i) {
        slope[i] = SlopeOfTangent(t[i]);
        if (redone) redone[i] = 1;
    }
    return n;
}

} // namespace warp
