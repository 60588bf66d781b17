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
    // The corners around the quad; it is convex when every turn goes the same way.
    const PointF c[4] = {m.tl, m.tr, m.br, m.bl};
    auto cross = [](PointF a, PointF b, double x, double y) {
        return (double(b.X) - a.X) * (y - a.Y) - (double(b.Y) - a.Y) * (x - a.X);
    };
    double turn[4];
    for (int k = 0; k < 4; ++k) turn[k] = cross(c[k], c[(k + 1) % 4], c[(k + 2) % 4].X, c[(k + 2) % 4].Y);
    const bool clockwise = turn[0] > 0 && turn[1] > 0 && turn[2] > 0 && turn[3] > 0;
    if (!clockwise && !(turn[0] < 0 && turn[1] < 0 && turn[2] < 0 && turn[3] < 0)) return false;
    // Both ends of the pixels two pixels or more on the outer side of the edge a -> b.
    auto beyond = [&](PointF a, PointF b) {
        const double margin = 2 * std::hypot(double(b.X) - a.X, double(b.Y) - a.Y);
        auto outer = [&](double x) {
            const double side = cross(a, b, x, y);
            return clockwise ? side < -margin : side > margin;
        };
        return outer(x0) && outer(double(x0) + count - 1);
    };
    return beyond(m.tl, m.tr) || beyond(m.br, m.bl);
}

void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out, ColumnMemo* memo,
            Cull cull) {
    double* kept = memo != nullptr ? memo->At(x0, count) : nullptr;
    const ColumnFields fields{kept, kept != nullptr ? memo->Stride() : 0};
    const bool outsideRows = cull == Cull::OutsideRows;
    switch (VectorMappingLanes()) {
    case 8: MapRunAvx512(m, y, x0, count, out, fields, outsideRows); break;
    case 4: MapRunAvx2(m, y, x0, count, out, fields, outsideRows); break;
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
