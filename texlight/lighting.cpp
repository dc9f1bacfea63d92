#include "texlight/lighting.h"

#include "core/console.h"
#include "core/workers.h"
#include "lights/light.h"
#include "mesh/object.h"
#include "texlight/specularpower.h"
#include "texlight/widelighting.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

// Here and not in the file built for the wide registers, so that asking is safe anywhere.
bool wideLightingAvailable()
{
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    return available;
}

namespace {

const float inv255 = 1.0f / 255.0f; // the single-precision value nearest to 1/255

std::atomic<bool> wideAllowed{true};

bitmap* bitmapOfKind(object* obj, int kind)
{
    switch (kind) {
    case diffuseKind: return obj->diffuseBitmap.get();
    case ambientKind: return obj->ambientBitmap.get();
    case specularKind: return obj->specularBitmap.get();
    case finalKind: return obj->finalBitmap.get();
    default: return nullptr;
    }
}

// Truncation toward zero of which the low eight bits are stored.
uint8_t toByte(float value)
{
    if (!(value > -2147483648.0f && value < 2147483648.0f))
        return 0;
    return static_cast<uint8_t>(static_cast<int>(value) & 0xFF);
}

// The lights of one call, looked at once before the texel loop. An unlimited point light,
// by far the common case, and a directional light then give their direction and colour
// without virtual calls; the values are the same as toLight and illumination would return.
struct resolvedLight {
    light* source;
    lightForm::kind shape;
    vector position;  // unlimitedPoint
    vector direction; // directional
    colour col;
};

struct lightList {
    std::vector<resolvedLight> lights;
    bool shareable = true; // asking the lights from several threads at once is safe
    bool allUnlimitedPoints = true; // every light an unlimited point light: the paired kernels apply
};

lightList resolve(light* lights)
{
    lightList list;
    for (light* l = lights; l; l = l->next) {
        const lightForm f = l->form();
        list.shareable = list.shareable && f.shareable;
        list.allUnlimitedPoints = list.allUnlimitedPoints && f.shape == lightForm::unlimitedPoint;
        list.lights.push_back({l, f.shape, f.position, f.direction, f.colour});
    }
    return list;
}

// Direction towards the light (not normalised) and the light arriving at p.
inline void towardsLight(const resolvedLight& l, const vector& p, double& lx, double& ly, double& lz, colour& c)
{
    if (l.shape == lightForm::unlimitedPoint) {
        lx = l.position.x - p.x;
        ly = l.position.y - p.y;
        lz = l.position.z - p.z;
        c = l.col;
    } else if (l.shape == lightForm::directional) {
        lx = l.direction.x;
        ly = l.direction.y;
        lz = l.direction.z;
        c = l.col;
    } else {
        vector toward = l.source->toLight(p);
        lx = toward.x;
        ly = toward.y;
        lz = toward.z;
        c = l.source->illumination(p);
    }
}

// A material channel's colour at a texel; a uniform colour is read once, not per texel.
class materialSource {
public:
    materialSource(const object* obj, const texture& t, int w, int h) : uniform(t.uniform != nullptr), obj(obj), t(t)
    {
        if (t.uniform)
            fixed = *t.uniform;
        // colourAt reports missing content and texels outside the image on the console,
        // which only the calling thread may write to, in texel order.
        quiet = t.uniform || (t.image && t.image->width >= w && t.image->height >= h);
    }
    colour at(int x, int y) const { return uniform ? fixed : obj->colourAt(t, x, y); }
    bool quiet;
    bool uniform;
    colour fixed; // the colour when uniform

private:
    const object* obj;
    const texture& t;
};

// The normalisation rule of vector, on plain components.
inline void normalise3(double& x, double& y, double& z)
{
    double len = std::sqrt(x * x + y * y + z * z);
    if (len == 0.0)
        return;
    if (x != 0.0) x /= len;
    if (y != 0.0) y /= len;
    if (z != 0.0) z /= len;
}

// Two texels' double vectors side by side. SSE2 adds, multiplies, divides and takes square
// roots with the same rounding as the scalar instructions, and nothing here is fused, so each
// lane holds exactly the doubles the one-texel code computes.
struct pair3 {
    __m128d x, y, z;
};

inline __m128d select2(__m128d mask, __m128d ifSet, __m128d otherwise)
{
    return _mm_or_pd(_mm_and_pd(mask, ifSet), _mm_andnot_pd(mask, otherwise));
}

// (a.x b.x + a.y b.y) + a.z b.z, the order of the one-texel sums.
inline __m128d dot2(const pair3& a, const pair3& b)
{
    return _mm_add_pd(_mm_add_pd(_mm_mul_pd(a.x, b.x), _mm_mul_pd(a.y, b.y)), _mm_mul_pd(a.z, b.z));
}

// normalise3 in both lanes: a zero length leaves the lane alone, and so does a zero component.
inline void normalise2(pair3& v)
{
    const __m128d zero = _mm_setzero_pd();
    const __m128d len = _mm_sqrt_pd(dot2(v, v));
    const __m128d lengthy = _mm_cmpneq_pd(len, zero);
    v.x = select2(_mm_and_pd(lengthy, _mm_cmpneq_pd(v.x, zero)), _mm_div_pd(v.x, len), v.x);
    v.y = select2(_mm_and_pd(lengthy, _mm_cmpneq_pd(v.y, zero)), _mm_div_pd(v.y, len), v.y);
    v.z = select2(_mm_and_pd(lengthy, _mm_cmpneq_pd(v.z, zero)), _mm_div_pd(v.z, len), v.z);
}

inline pair3 load2(const vector& a, const vector& b)
{
    return {_mm_set_pd(b.x, a.x), _mm_set_pd(b.y, a.y), _mm_set_pd(b.z, a.z)};
}

// A lane mask from two flags.
inline __m128d lanes(bool first, bool second)
{
    return _mm_castsi128_pd(_mm_set_epi64x(second ? -1 : 0, first ? -1 : 0));
}

// The light sums of one texel: diffuse and specular, red, green, blue.
struct lightSums {
    float dr = 0, dg = 0, db = 0, sr = 0, sg = 0, sb = 0;
};

// Which lighting bitmaps one pass over the rows writes.
struct stages {
    bool all = false;
    bool ambient = false;
    bool diffuse = false;
    bool specular = false;
    bool compose = false;
};

// Everything one relighting needs, shared read-only by the threads; each run of rows writes
// only those rows of the bitmaps, so any split of the rows gives the same bytes.
class relighting {
public:
    relighting(object* obj, stages what, light* lights, vector eye, colour ambient)
        : obj(obj), what(what), w(obj->finalBitmap->width), h(obj->finalBitmap->height),
          resolved(resolve(lights)), eye(eye), ambientLight(ambient), power(obj->specularCoefficient),
          ambientMaterial(obj, obj->ambientTexture, w, h), diffuseMaterial(obj, obj->diffuseTexture, w, h),
          specularMaterial(obj, obj->specularTexture, w, h), rowChanged(static_cast<size_t>(h), 0)
    {
        // Traced visibility and bounced light are applied by the one-texel forms only; occlusion,
        // which only scales the ambient part, by every form that adds that part per texel.
        const tracedTexels* t = obj->traced.get();
        if (t && t->visibility.size() == static_cast<size_t>(w) * h * t->lightCount && t->lightCount > 0)
            visibility = t->visibility.data(), visibilityLights = t->lightCount;
        if (t && t->occlusion.size() == static_cast<size_t>(w) * h)
            occlusion = t->occlusion.data();
        if (t && t->indirect.size() == static_cast<size_t>(w) * h * 3)
            indirect = t->indirect.data();
        oneTexelOnly = visibility || indirect;
        wide = resolved.allUnlimitedPoints && !oneTexelOnly && wideAllowed && wideLightingAvailable();
        if (wide)
            for (const resolvedLight& l : resolved.lights)
                wideLights.push_back({l.position.x, l.position.y, l.position.z, l.col.red * inv255,
                                      l.col.green * inv255, l.col.blue * inv255});
        widePowerOf = {power.exponentValue(), power.integralExponent(), power.squaringMargin()};
    }

    // Runs the stages over all rows; returns the rows of finalBitmap whose bytes changed.
    changedRows run()
    {
        bool quiet = (!(what.all || what.ambient) || ambientMaterial.quiet) &&
                     (!(what.all || what.diffuse) || diffuseMaterial.quiet) &&
                     (!(what.all || what.specular) || specularMaterial.quiet);
        if (quiet) {
            const int rowsPerPiece = 8;
            const int pieces = (h + rowsPerPiece - 1) / rowsPerPiece;
            auto piece = [&](int i) { rows(what, i * rowsPerPiece, std::min(h, (i + 1) * rowsPerPiece)); };
            // Below some thousands of texels waking a thread costs more than it saves.
            if (resolved.shareable && static_cast<long long>(w) * h >= 8192)
                sharedWorkers().forEachPiece(pieces, piece);
            else
                for (int i = 0; i < pieces; ++i)
                    piece(i);
        } else {
            // Messages about the material come out as the plain order makes them: term by
            // term, row by row, texel by texel.
            for (bool stages::*stage : {&stages::all, &stages::ambient, &stages::diffuse, &stages::specular,
                                        &stages::compose}) {
                if (!(what.*stage))
                    continue;
                stages one;
                one.*stage = true;
                for (int y = 0; y < h; ++y)
                    rows(one, y, y + 1);
            }
        }
        changedRows changed;
        for (int y = 0; y < h; ++y)
            if (rowChanged[y]) {
                if (changed.first == changed.end)
                    changed.first = y;
                changed.end = y + 1;
            }
        return changed;
    }

private:
    // Calls shade(x, y, P, N) for every texel of rows [y0, y1) covered by a polygon that
    // faces the viewer, row by row. The coverage table is kept column by column, so the rows'
    // part of it is gathered first, a short run of each column at a time.
    template <typename Shade>
    void forLitTexels(int y0, int y1, Shade shade) const
    {
        const polygon* const* lit = gatherCoverage(y0, y1);
        for (int y = y0; y < y1; ++y) {
            const polygon* const* covering = lit + static_cast<size_t>(y - y0) * w;
            const vector* positions = obj->positionsMap[y];
            const vector* normals = obj->normalsMap[y];
            for (int x = 0; x < w; ++x)
                if (covering[x] && covering[x]->facing == 1)
                    shade(x, y, positions[x], normals[x]);
        }
    }

    // The coverage of rows [y0, y1), row after row, in this thread's buffer.
    const polygon* const* gatherCoverage(int y0, int y1) const
    {
        thread_local std::vector<const polygon*> lit;
        lit.resize(static_cast<size_t>(w) * static_cast<size_t>(y1 - y0));
        for (int x = 0; x < w; ++x) {
            const polygon* const* column = obj->alphaMap[x] + y0;
            for (int y = 0; y < y1 - y0; ++y)
                lit[static_cast<size_t>(y) * w + x] = column[y];
        }
        return lit.data();
    }

    // The columns of one row's coverage whose polygon faces the viewer, in order; returns how many.
    size_t litColumns(const polygon* const* covering, int* columns) const
    {
        size_t n = 0;
        for (int x = 0; x < w; ++x)
            if (covering[x] && covering[x]->facing == 1)
                columns[n++] = x;
        return n;
    }

    // As forLitTexels, but the lit texels of a row go to pair(x0, x1, y, P0, N0, P1, N1) two
    // at a time, in order, and an odd last one to single.
    template <typename Pair, typename Single>
    void forLitTexelPairs(int y0, int y1, Pair pair, Single single) const
    {
        thread_local std::vector<int> litX;
        litX.resize(static_cast<size_t>(w));
        const polygon* const* lit = gatherCoverage(y0, y1);
        for (int y = y0; y < y1; ++y) {
            const polygon* const* covering = lit + static_cast<size_t>(y - y0) * w;
            const size_t n = litColumns(covering, litX.data());
            const vector* positions = obj->positionsMap[y];
            const vector* normals = obj->normalsMap[y];
            size_t i = 0;
            for (; i + 1 < n; i += 2) {
                const int a = litX[i], b = litX[i + 1];
                pair(a, b, y, positions[a], normals[a], positions[b], normals[b]);
            }
            if (i < n)
                single(litX[i], y, positions[litX[i]], normals[litX[i]]);
        }
    }

    // The light sums of the lit texels of rows [y0, y1), eight at a time in row order, handed
    // to group(xs, count, y, sums): count texels at columns xs[0..count) of row y, their sums
    // in lanes 0..count of sums[term].
    template <typename Group>
    void forLitTexelEights(int y0, int y1, wideRule rule, Group group) const
    {
        thread_local std::vector<int> litX;
        litX.resize(static_cast<size_t>(w));
        const polygon* const* lit = gatherCoverage(y0, y1);
        const double eyeAt[3] = {eye.x, eye.y, eye.z};
        wideTexels texels;
        float sums[6][8];
        for (int y = y0; y < y1; ++y) {
            const polygon* const* covering = lit + static_cast<size_t>(y - y0) * w;
            const size_t n = litColumns(covering, litX.data());
            const vector* positions = obj->positionsMap[y];
            const vector* normals = obj->normalsMap[y];
            for (size_t i = 0; i < n; i += 8) {
                const size_t count = std::min<size_t>(8, n - i);
                for (size_t k = 0; k < 8; ++k) {
                    const int x = litX[i + std::min(k, count - 1)]; // the last texel again in unused lanes
                    texels.px[k] = positions[x].x;
                    texels.py[k] = positions[x].y;
                    texels.pz[k] = positions[x].z;
                    texels.nx[k] = normals[x].x;
                    texels.ny[k] = normals[x].y;
                    texels.nz[k] = normals[x].z;
                }
                wideLightSums(texels, wideLights.data(), static_cast<int>(wideLights.size()), eyeAt, rule,
                              widePowerOf, sums);
                group(&litX[i], count, y, sums);
            }
        }
    }

    // The light sums of two texels from unlimited point lights only, lane by lane exactly as
    // the one-texel loops compute them: with diffuse, the all-terms rule (a light counts when
    // N.L in single precision is not at or below 0); without, the specular rule (N.L before
    // L is normalised, in double).
    void pairSums(const vector& p0, const vector& n0, const vector& p1, const vector& n1, bool diffuse,
                  lightSums out[2]) const
    {
        const pair3 P = load2(p0, p1), N = load2(n0, n1);
        pair3 V = {_mm_sub_pd(_mm_set1_pd(eye.x), P.x), _mm_sub_pd(_mm_set1_pd(eye.y), P.y),
                   _mm_sub_pd(_mm_set1_pd(eye.z), P.z)};
        for (const resolvedLight& l : resolved.lights) {
            pair3 L = {_mm_sub_pd(_mm_set1_pd(l.position.x), P.x), _mm_sub_pd(_mm_set1_pd(l.position.y), P.y),
                       _mm_sub_pd(_mm_set1_pd(l.position.z), P.z)};
            double side[2];
            bool on[2];
            if (diffuse) {
                normalise2(L);
                _mm_storeu_pd(side, dot2(L, N));
                for (int k = 0; k < 2; ++k) {
                    const float d = static_cast<float>(side[k]);
                    on[k] = !(d <= 0);
                    if (on[k]) {
                        out[k].dr += l.col.red * inv255 * d;
                        out[k].dg += l.col.green * inv255 * d;
                        out[k].db += l.col.blue * inv255 * d;
                    }
                }
            } else {
                _mm_storeu_pd(side, dot2(N, L));
                on[0] = !(side[0] <= 0);
                on[1] = !(side[1] <= 0);
                if (!on[0] && !on[1])
                    continue;
                normalise2(L);
            }
            if (!on[0] && !on[1])
                continue;
            // V is normalised again for every light that adds a highlight, and only then.
            pair3 U = V;
            normalise2(U);
            const __m128d taken = lanes(on[0], on[1]);
            V = {select2(taken, U.x, V.x), select2(taken, U.y, V.y), select2(taken, U.z, V.z)};
            pair3 H = {_mm_add_pd(L.x, V.x), _mm_add_pd(L.y, V.y), _mm_add_pd(L.z, V.z)};
            normalise2(H);
            double toward[2];
            _mm_storeu_pd(toward, dot2(N, H));
            for (int k = 0; k < 2; ++k)
                if (on[k]) {
                    const float sp = power(toward[k]);
                    out[k].sr += l.col.red * inv255 * sp;
                    out[k].sg += l.col.green * inv255 * sp;
                    out[k].sb += l.col.blue * inv255 * sp;
                }
        }
    }

    // The traced reach of each light at a texel, or none when nothing was traced.
    const float* reachOf(int x, int y) const
    {
        return visibility ? visibility + (static_cast<size_t>(y) * w + x) * visibilityLights : nullptr;
    }
    // A light's reach; 1 for lights the trace did not know.
    float reachAt(const float* reach, size_t light) const
    {
        return reach && light < static_cast<size_t>(visibilityLights) ? reach[light] : 1.0f;
    }
    float openness(int x, int y) const { return occlusion ? occlusion[static_cast<size_t>(y) * w + x] : 1.0f; }
    void addBounced(int x, int y, float& r, float& g, float& b) const
    {
        if (!indirect)
            return;
        const float* k = indirect + 3 * (static_cast<size_t>(y) * w + x);
        r += k[0];
        g += k[1];
        b += k[2];
    }

    static uint8_t* pixelOf(bitmap& b, int x, int y)
    {
        return b.pixels.get() + 3 * (static_cast<size_t>(y) * b.width + x);
    }

    // A term's pixel: each accumulator limited to 1.0, times the material colour.
    static void storeTerm(uint8_t* p, const colour& m, float r, float g, float b)
    {
        p[0] = toByte(m.red * std::min(r, 1.0f));
        p[1] = toByte(m.green * std::min(g, 1.0f));
        p[2] = toByte(m.blue * std::min(b, 1.0f));
    }

    // toByte of four floats at once: out-of-range and NaN values give 0 there as well.
    static __m128i toBytes4(__m128 value)
    {
        return _mm_and_si128(_mm_cvttps_epi32(value), _mm_set1_epi32(0xFF));
    }

    static void storeLanes(__m128i low, __m128i high, uint8_t* out)
    {
        alignas(16) int32_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), low);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), high);
        for (int k = 0; k < 8; ++k)
            out[k] = static_cast<uint8_t>(lanes[k]);
    }

    // storeTerm's bytes for eight texels of one uniform material: bytes[channel][lane].
    static void termBytes(const colour& m, const float (*sums)[8], uint8_t bytes[3][8])
    {
        const float material[3] = {float(m.red), float(m.green), float(m.blue)};
        const __m128 one = _mm_set1_ps(1.0f);
        for (int c = 0; c < 3; ++c) {
            __m128i half[2];
            for (int h = 0; h < 2; ++h) {
                const __m128 sum = _mm_loadu_ps(sums[c] + 4 * h);
                const __m128 above = _mm_cmplt_ps(one, sum); // std::min keeps a NaN sum
                const __m128 limited = _mm_or_ps(_mm_and_ps(above, one), _mm_andnot_ps(above, sum));
                half[h] = toBytes4(_mm_mul_ps(_mm_set1_ps(material[c]), limited));
            }
            storeLanes(half[0], half[1], bytes[c]);
        }
    }

    // A term's pixels of count texels at columns xs of row y from their sums sums[channel][lane].
    void storeTermEights(bitmap& out, const materialSource& material, const int* xs, size_t count, int y,
                         const float (*sums)[8]) const
    {
        if (!material.uniform) {
            for (size_t k = 0; k < count; ++k)
                storeTerm(pixelOf(out, xs[k], y), material.at(xs[k], y), sums[0][k], sums[1][k], sums[2][k]);
            return;
        }
        uint8_t bytes[3][8];
        termBytes(material.fixed, sums, bytes);
        for (size_t k = 0; k < count; ++k) {
            uint8_t* q = pixelOf(out, xs[k], y);
            q[0] = bytes[0][k];
            q[1] = bytes[1][k];
            q[2] = bytes[2][k];
        }
    }

    // The final-colour bytes of eight texels of uniform materials, as finish forms them one
    // by one: diffuse times the diffuse sum, plus specular times the specular sum, plus the
    // ambient part, limited to 255.
    static void finalBytes(const colour& cd, const colour& cs, const float ambientPart[3], const float (*sums)[8],
                           uint8_t bytes[3][8])
    {
        const float diffuse[3] = {float(cd.red), float(cd.green), float(cd.blue)};
        const float specular[3] = {float(cs.red), float(cs.green), float(cs.blue)};
        const __m128 top = _mm_set1_ps(255.0f);
        for (int c = 0; c < 3; ++c) {
            __m128i half[2];
            for (int h = 0; h < 2; ++h) {
                const __m128 value = _mm_add_ps(
                    _mm_add_ps(_mm_mul_ps(_mm_set1_ps(diffuse[c]), _mm_loadu_ps(sums[c] + 4 * h)),
                               _mm_mul_ps(_mm_set1_ps(specular[c]), _mm_loadu_ps(sums[3 + c] + 4 * h))),
                    _mm_set1_ps(ambientPart[c]));
                const __m128 above = _mm_cmpgt_ps(value, top); // a NaN stays and becomes 0
                half[h] = toBytes4(_mm_or_ps(_mm_and_ps(above, top), _mm_andnot_ps(above, value)));
            }
            storeLanes(half[0], half[1], bytes[c]);
        }
    }

    void rows(const stages& some, int y0, int y1)
    {
        if (some.all)
            allRows(y0, y1);
        if (some.ambient)
            ambientRows(y0, y1);
        if (some.diffuse)
            diffuseRows(y0, y1);
        if (some.specular)
            specularRows(y0, y1);
        if (some.compose)
            composeRows(y0, y1);
    }

    void ambientRows(int y0, int y1)
    {
        const float fr = ambientLight.red * inv255, fg = ambientLight.green * inv255,
                    fb = ambientLight.blue * inv255;
        bitmap& out = *obj->ambientBitmap;
        forLitTexels(y0, y1, [&](int x, int y, const vector&, const vector&) {
            colour ca = ambientMaterial.at(x, y);
            const float open = openness(x, y);
            uint8_t* p = pixelOf(out, x, y);
            p[0] = toByte(ca.red * (fr * open));
            p[1] = toByte(ca.green * (fg * open));
            p[2] = toByte(ca.blue * (fb * open));
        });
    }

    void diffuseRows(int y0, int y1)
    {
        bitmap& out = *obj->diffuseBitmap;
        if (wide) {
            forLitTexelEights(y0, y1, wideRule::diffuseOnly, [&](const int* xs, size_t count, int y, const float (*sums)[8]) {
                storeTermEights(out, diffuseMaterial, xs, count, y, sums);
            });
            return;
        }
        forLitTexels(y0, y1, [&](int x, int y, const vector& p, const vector& n) {
            const float* reach = reachOf(x, y);
            float dr = 0, dg = 0, db = 0;
            for (size_t i = 0; i < resolved.lights.size(); ++i) {
                double lx, ly, lz;
                colour c;
                towardsLight(resolved.lights[i], p, lx, ly, lz, c);
                normalise3(lx, ly, lz);
                float d = static_cast<float>(lx * n.x + ly * n.y + lz * n.z);
                if (d > 0) {
                    const float v = reachAt(reach, i);
                    dr += c.red * inv255 * d * v;
                    dg += c.green * inv255 * d * v;
                    db += c.blue * inv255 * d * v;
                }
            }
            addBounced(x, y, dr, dg, db);
            storeTerm(pixelOf(out, x, y), diffuseMaterial.at(x, y), dr, dg, db);
        });
    }

    // Adds one light's highlight at a texel: L towards the light (normalised), V the view
    // vector, normalised once more here as the accumulation has always done for each light.
    void addHighlight(double lx, double ly, double lz, double& vx, double& vy, double& vz, const vector& n,
                      const colour& c, float reach, float& sr, float& sg, float& sb) const
    {
        normalise3(vx, vy, vz);
        double hx = lx + vx, hy = ly + vy, hz = lz + vz;
        normalise3(hx, hy, hz);
        float s = power(n.x * hx + n.y * hy + n.z * hz) * reach;
        sr += c.red * inv255 * s;
        sg += c.green * inv255 * s;
        sb += c.blue * inv255 * s;
    }

    void specularRows(int y0, int y1)
    {
        bitmap& out = *obj->specularBitmap;
        auto one = [&](int x, int y, const vector& p, const vector& n) {
            double vx = eye.x - p.x, vy = eye.y - p.y, vz = eye.z - p.z;
            const float* reach = reachOf(x, y);
            float sr = 0, sg = 0, sb = 0;
            for (size_t i = 0; i < resolved.lights.size(); ++i) {
                const resolvedLight& l = resolved.lights[i];
                double lx, ly, lz;
                if (l.shape == lightForm::unlimitedPoint) {
                    lx = l.position.x - p.x;
                    ly = l.position.y - p.y;
                    lz = l.position.z - p.z;
                } else if (l.shape == lightForm::directional) {
                    lx = l.direction.x;
                    ly = l.direction.y;
                    lz = l.direction.z;
                } else {
                    vector toward = l.source->toLight(p);
                    lx = toward.x;
                    ly = toward.y;
                    lz = toward.z;
                }
                // The side is taken before L is normalised.
                if (n.x * lx + n.y * ly + n.z * lz <= 0)
                    continue;
                normalise3(lx, ly, lz);
                colour c = l.shape == lightForm::general ? l.source->illumination(p) : l.col;
                addHighlight(lx, ly, lz, vx, vy, vz, n, c, reachAt(reach, i), sr, sg, sb);
            }
            storeTerm(pixelOf(out, x, y), specularMaterial.at(x, y), sr, sg, sb);
        };
        if (!resolved.allUnlimitedPoints || oneTexelOnly) {
            forLitTexels(y0, y1, one);
            return;
        }
        if (wide) {
            forLitTexelEights(y0, y1, wideRule::specularOnly, [&](const int* xs, size_t count, int y, const float (*sums)[8]) {
                storeTermEights(out, specularMaterial, xs, count, y, sums + 3);
            });
            return;
        }
        forLitTexelPairs(y0, y1,
                         [&](int x0, int x1, int y, const vector& p0, const vector& n0, const vector& p1,
                             const vector& n1) {
                             lightSums sums[2];
                             pairSums(p0, n0, p1, n1, false, sums);
                             storeTerm(pixelOf(out, x0, y), specularMaterial.at(x0, y), sums[0].sr, sums[0].sg, sums[0].sb);
                             storeTerm(pixelOf(out, x1, y), specularMaterial.at(x1, y), sums[1].sr, sums[1].sg, sums[1].sb);
                         },
                         one);
    }

    void allRows(int y0, int y1)
    {
        bitmap& out = *obj->finalBitmap;
        const float ar = ambientLight.red * inv255, ag = ambientLight.green * inv255,
                    ab = ambientLight.blue * inv255;
        // A pixel of the final bitmap, noting whether its row changed.
        auto store = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
            uint8_t* q = pixelOf(out, x, y);
            rowChanged[y] |= (q[0] ^ r) | (q[1] ^ g) | (q[2] ^ b);
            q[0] = r;
            q[1] = g;
            q[2] = b;
        };
        // The sums of one texel into its pixel of the final bitmap.
        auto finish = [&](int x, int y, float dr, float dg, float db, float sr, float sg, float sb) {
            colour ca = ambientMaterial.at(x, y);
            colour cd = diffuseMaterial.at(x, y);
            colour cs = specularMaterial.at(x, y);
            const float open = openness(x, y);
            float fr = cd.red * dr + cs.red * sr + ar * open * ca.red;
            float fg = cd.green * dg + cs.green * sg + ag * open * ca.green;
            float fb = cd.blue * db + cs.blue * sb + ab * open * ca.blue;
            store(x, y, toByte(fr > 255.0f ? 255.0f : fr), toByte(fg > 255.0f ? 255.0f : fg),
                  toByte(fb > 255.0f ? 255.0f : fb));
        };
        auto one = [&](int x, int y, const vector& p, const vector& n) {
            double vx = eye.x - p.x, vy = eye.y - p.y, vz = eye.z - p.z;
            const float* reach = reachOf(x, y);
            float dr = 0, dg = 0, db = 0, sr = 0, sg = 0, sb = 0;
            for (size_t i = 0; i < resolved.lights.size(); ++i) {
                double lx, ly, lz;
                colour c;
                towardsLight(resolved.lights[i], p, lx, ly, lz, c);
                normalise3(lx, ly, lz);
                // N.L in double is positive whenever its single-precision value is, so every
                // light that adds diffuse light adds a highlight too.
                float d = static_cast<float>(lx * n.x + ly * n.y + lz * n.z);
                if (d <= 0)
                    continue;
                const float v = reachAt(reach, i);
                dr += c.red * inv255 * d * v;
                dg += c.green * inv255 * d * v;
                db += c.blue * inv255 * d * v;
                addHighlight(lx, ly, lz, vx, vy, vz, n, c, v, sr, sg, sb);
            }
            addBounced(x, y, dr, dg, db);
            finish(x, y, dr, dg, db, sr, sg, sb);
        };
        if (!resolved.allUnlimitedPoints || oneTexelOnly) {
            forLitTexels(y0, y1, one);
            return;
        }
        if (wide) {
            const bool uniform =
                ambientMaterial.uniform && diffuseMaterial.uniform && specularMaterial.uniform && !occlusion;
            const colour& ca = ambientMaterial.fixed;
            const float ambientPart[3] = {ar * ca.red, ag * ca.green, ab * ca.blue};
            forLitTexelEights(y0, y1, wideRule::all, [&](const int* xs, size_t count, int y, const float (*sums)[8]) {
                if (uniform) {
                    uint8_t bytes[3][8];
                    finalBytes(diffuseMaterial.fixed, specularMaterial.fixed, ambientPart, sums, bytes);
                    for (size_t k = 0; k < count; ++k)
                        store(xs[k], y, bytes[0][k], bytes[1][k], bytes[2][k]);
                    return;
                }
                for (size_t k = 0; k < count; ++k)
                    finish(xs[k], y, sums[0][k], sums[1][k], sums[2][k], sums[3][k], sums[4][k], sums[5][k]);
            });
            return;
        }
        forLitTexelPairs(y0, y1,
                         [&](int x0, int x1, int y, const vector& p0, const vector& n0, const vector& p1,
                             const vector& n1) {
                             lightSums sums[2];
                             pairSums(p0, n0, p1, n1, true, sums);
                             for (int k = 0; k < 2; ++k)
                                 finish(k ? x1 : x0, y, sums[k].dr, sums[k].dg, sums[k].db, sums[k].sr, sums[k].sg,
                                        sums[k].sb);
                         },
                         one);
    }

    void composeRows(int y0, int y1)
    {
        const size_t rowBytes = 3 * static_cast<size_t>(w);
        for (int y = y0; y < y1; ++y) {
            const size_t start = rowBytes * static_cast<size_t>(y);
            const uint8_t* a = obj->ambientBitmap->pixels.get() + start;
            const uint8_t* d = obj->diffuseBitmap->pixels.get() + start;
            const uint8_t* s = obj->specularBitmap->pixels.get() + start;
            uint8_t* out = obj->finalBitmap->pixels.get() + start;
            uint8_t differs = 0;
            for (size_t i = 0; i < rowBytes; ++i) {
                unsigned sum = unsigned(a[i]) + d[i] + s[i];
                uint8_t v = static_cast<uint8_t>(sum > 255 ? 255 : sum);
                differs |= out[i] ^ v;
                out[i] = v;
            }
            rowChanged[y] |= differs;
        }
    }

    object* obj;
    stages what;
    int w, h;
    lightList resolved;
    vector eye;
    colour ambientLight;
    specularPower power;
    materialSource ambientMaterial, diffuseMaterial, specularMaterial;
    std::vector<uint8_t> rowChanged; // one entry per row, written only by the row's thread
    bool wide = false; // the sums of unlimited point lights eight texels at a time
    const float* visibility = nullptr; // traced per texel and light, when the object has it
    int visibilityLights = 0;
    const float* occlusion = nullptr;
    const float* indirect = nullptr;
    bool oneTexelOnly = false; // visibility or bounced light traced: only the one-texel forms apply them
    std::vector<wideLight> wideLights;
    widePower widePowerOf;
};

bool hasMaps(const object* obj)
{
    return obj->finalBitmap && obj->finalBitmap->pixels && !obj->alphaMap.empty() &&
           !obj->positionsMap.empty() && !obj->normalsMap.empty();
}

bool canCompose(const object* obj)
{
    return obj->finalBitmap && obj->finalBitmap->pixels;
}

} // namespace

void initialiseBitmap(object* obj, int kind)
{
    static const char* names[] = {"DIFFUSE", "AMBIENT", "SPECULAR", "FINAL COLOUR"};
    bitmap* b = bitmapOfKind(obj, kind);
    if (!b) {
        sayObjectError(*obj, "No bitmap specified to initialise!");
        return;
    }
    say("Initialising bitmap : %s\n", names[kind]);
    if (b->pixels)
        std::memset(b->pixels.get(), 0, b->byteCount());
}

void setMaterialColour(object* obj, int channel, colour c)
{
    texture* t = channel == 0 ? &obj->diffuseTexture
               : channel == 1 ? &obj->ambientTexture
               : channel == 2 ? &obj->specularTexture
                              : nullptr;
    if (!t)
        return;
    t->image.reset();
    t->uniform = std::make_unique<colour>(c);
}

void accumulateAmbient(object* obj, colour ambient)
{
    if (!hasMaps(obj))
        return;
    stages what;
    what.ambient = true;
    relighting(obj, what, nullptr, vector(), ambient).run();
}

void accumulateDiffuse(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    stages what;
    what.diffuse = true;
    relighting(obj, what, lights, eye, colour()).run();
}

void accumulateSpecular(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    stages what;
    what.specular = true;
    relighting(obj, what, lights, eye, colour()).run();
}

void accumulateAll(object* obj, light* lights, vector eye, colour ambient)
{
    if (!hasMaps(obj))
        return;
    stages what;
    what.all = true;
    relighting(obj, what, lights, eye, ambient).run();
}

void composeFinal(object* obj)
{
    if (!canCompose(obj))
        return;
    stages what;
    what.compose = true;
    relighting(obj, what, nullptr, vector(), colour()).run();
}

changedRows relight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
                    bool composeWhenNone)
{
    stages what;
    if (terms.ambient == 1 && terms.diffuse == 1 && terms.specular == 1) {
        what.all = true;
    } else {
        bool any = terms.ambient == 1 || terms.diffuse == 1 || terms.specular == 1;
        if (!any && !composeWhenNone)
            return {};
        // Each term needs the maps; the sum needs only the bitmaps.
        bool maps = hasMaps(obj);
        what.ambient = maps && terms.ambient == 1;
        what.diffuse = maps && terms.diffuse == 1;
        what.specular = maps && terms.specular == 1;
        what.compose = true;
    }
    if (what.all ? !hasMaps(obj) : !canCompose(obj))
        return {};
    // One pass over the rows does every stage, so each row is finished while it is in cache.
    return relighting(obj, what, lights, eye, ambient).run();
}

void allowWideRelighting(bool allowed)
{
    wideAllowed = allowed;
}
