// Compiled for 512-bit registers (see CMakeLists.txt): only intrinsics, pow, and functions of
// this file's own, so that no shared inline function is ever emitted in that form.

#include "texlight/widelighting.h"

// GCC's own headers leave a register deliberately undefined in some intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <math.h>

namespace {

struct vec3 {
    __m512d x, y, z;
};

// (a.x b.x + a.y b.y) + a.z b.z, the order of the one-texel sums.
inline __m512d dot(const vec3& a, const vec3& b)
{
    return _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(a.x, b.x), _mm512_mul_pd(a.y, b.y)), _mm512_mul_pd(a.z, b.z));
}

// The normalisation rule of vector: a zero length leaves the lane alone, and so does a zero
// component (a NaN is not zero).
inline void normalise(vec3& v)
{
    const __m512d zero = _mm512_setzero_pd();
    const __m512d len = _mm512_sqrt_pd(dot(v, v));
    const __mmask8 lengthy = _mm512_cmp_pd_mask(len, zero, _CMP_NEQ_UQ);
    v.x = _mm512_mask_div_pd(v.x, lengthy & _mm512_cmp_pd_mask(v.x, zero, _CMP_NEQ_UQ), v.x, len);
    v.y = _mm512_mask_div_pd(v.y, lengthy & _mm512_cmp_pd_mask(v.y, zero, _CMP_NEQ_UQ), v.y, len);
    v.z = _mm512_mask_div_pd(v.z, lengthy & _mm512_cmp_pd_mask(v.z, zero, _CMP_NEQ_UQ), v.z, len);
}

inline vec3 towards(const double* at, const vec3& from)
{
    return {_mm512_sub_pd(_mm512_set1_pd(at[0]), from.x), _mm512_sub_pd(_mm512_set1_pd(at[1]), from.y),
            _mm512_sub_pd(_mm512_set1_pd(at[2]), from.z)};
}

// specularPower's float in the lanes of `wanted`: 0 for a negative base; the repeated
// squaring where it settles the float; the power function in the other lanes.
__m256 powerOf(__m512d base, const widePower& p, __mmask8 wanted)
{
    const __m512d zero = _mm512_setzero_pd();
    const __mmask8 negative = _mm512_cmp_pd_mask(base, zero, _CMP_LT_OQ);
    __mmask8 settled = negative;
    __m256 result = _mm256_setzero_ps();
    const __mmask8 squaring = p.integral ? wanted & ~negative & _mm512_cmp_pd_mask(base, _mm512_set1_pd(1.0), _CMP_LE_OQ)
                                         : 0;
    if (squaring) {
        __m512d r = _mm512_set1_pd(1.0), b = base;
        for (unsigned n = p.integral;;) {
            if (n & 1)
                r = _mm512_mul_pd(r, b);
            n >>= 1;
            if (!n)
                break;
            b = _mm512_mul_pd(b, b);
        }
        const __mmask8 tiny = _mm512_cmp_pd_mask(r, _mm512_set1_pd(0x1p-1000), _CMP_LT_OQ);
        const __m512d slack = _mm512_mul_pd(r, _mm512_set1_pd(p.margin));
        const __m256 low = _mm512_cvtpd_ps(_mm512_sub_pd(r, slack));
        const __m256 high = _mm512_cvtpd_ps(_mm512_add_pd(r, slack));
        const __mmask8 close = _mm256_cmp_ps_mask(low, high, _CMP_EQ_OQ);
        const __m256 value = _mm256_mask_blend_ps(tiny, low, _mm512_cvtpd_ps(r));
        const __mmask8 known = squaring & (tiny | close);
        result = _mm256_mask_mov_ps(result, known, value);
        settled |= known;
    }
    const __mmask8 left = wanted & ~settled;
    if (left) {
        double bases[8];
        float values[8];
        _mm512_storeu_pd(bases, base);
        _mm256_storeu_ps(values, result);
        for (int k = 0; k < 8; ++k)
            if (left & (1u << k))
                values[k] = static_cast<float>(pow(bases[k], p.exponent));
        result = _mm256_loadu_ps(values);
    }
    return result;
}

inline __m256 addWhere(__m256 sum, __mmask8 on, float weight, __m256 amount)
{
    return _mm256_mask_add_ps(sum, on, sum, _mm256_mul_ps(_mm256_set1_ps(weight), amount));
}

} // namespace

void wideLightSums(const wideTexels& texels, const wideLight* lights, int lightCount, const double eye[3],
                   wideRule rule, const widePower& power, float sums[6][8])
{
    const vec3 P = {_mm512_loadu_pd(texels.px), _mm512_loadu_pd(texels.py), _mm512_loadu_pd(texels.pz)};
    const vec3 N = {_mm512_loadu_pd(texels.nx), _mm512_loadu_pd(texels.ny), _mm512_loadu_pd(texels.nz)};
    const __m512d zero = _mm512_setzero_pd();
    vec3 V = towards(eye, P);
    __m256 dr = _mm256_setzero_ps(), dg = dr, db = dr, sr = dr, sg = dr, sb = dr;
    for (int i = 0; i < lightCount; ++i) {
        const wideLight& l = lights[i];
        const double at[3] = {l.x, l.y, l.z};
        vec3 L = towards(at, P);
        __mmask8 on;
        if (rule != wideRule::specularOnly) {
            normalise(L);
            const __m256 d = _mm512_cvtpd_ps(dot(L, N));
            on = _mm256_cmp_ps_mask(d, _mm256_setzero_ps(), _CMP_NLE_UQ); // !(d <= 0)
            dr = addWhere(dr, on, l.red, d);
            dg = addWhere(dg, on, l.green, d);
            db = addWhere(db, on, l.blue, d);
        } else {
            on = _mm512_cmp_pd_mask(dot(N, L), zero, _CMP_NLE_UQ); // the side, before L is normalised
            if (!on)
                continue;
            normalise(L);
        }
        if (!on || rule == wideRule::diffuseOnly)
            continue;
        // V is normalised again for every light that adds a highlight, and only then.
        vec3 U = V;
        normalise(U);
        V = {_mm512_mask_mov_pd(V.x, on, U.x), _mm512_mask_mov_pd(V.y, on, U.y), _mm512_mask_mov_pd(V.z, on, U.z)};
        vec3 H = {_mm512_add_pd(L.x, V.x), _mm512_add_pd(L.y, V.y), _mm512_add_pd(L.z, V.z)};
        normalise(H);
        const __m256 s = powerOf(dot(N, H), power, on);
        sr = addWhere(sr, on, l.red, s);
        sg = addWhere(sg, on, l.green, s);
        sb = addWhere(sb, on, l.blue, s);
    }
    const __m256 all[6] = {dr, dg, db, sr, sg, sb};
    for (int i = 0; i < 6; ++i)
        _mm256_storeu_ps(sums[i], all[i]);
}

void wideSpecularPowers(const double bases[8], const widePower& power, float out[8])
{
    _mm256_storeu_ps(out, powerOf(_mm512_loadu_pd(bases), power, 0xFF));
}
