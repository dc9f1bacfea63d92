#include "texlight/tracedlight.h"

#include "core/console.h"
#include "core/progress.h"
#include "core/workers.h"
#include "lights/light.h"
#include "lights/rayscene.h"
#include "mesh/object.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <limits>
#include <memory>
#include <vector>

namespace {

using steadyClock = std::chrono::steady_clock;

const double pi = 3.14159265358979323846;
const float inv255 = 1.0f / 255.0f;

// Passes of one texel's rays, each seeded apart.
const int occlusionPass = 1;
const int firstBouncePass = 100;
const int firstLightPass = 1000;

struct vec3 {
    double x, y, z;
};
inline vec3 operator+(vec3 a, vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec3 operator-(vec3 a, vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec3 operator*(vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vec3 of(const vector& v) { return {v.x, v.y, v.z}; }
inline double length(vec3 a) { return std::sqrt(dot(a, a)); }
inline bool finite(vec3 a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// Two unit vectors that make an orthonormal frame with the unit vector n.
void frameAbout(vec3 n, vec3& s, vec3& t)
{
    const double sign = std::copysign(1.0, n.z);
    const double a = -1.0 / (sign + n.z);
    const double b = n.x * n.y * a;
    s = {1.0 + sign * n.x * n.x * a, sign * b, -sign * n.x};
    t = {b, sign + n.y * n.y * a, -n.y};
}

double radicalInverse(uint32_t i)
{
    i = (i << 16) | (i >> 16);
    i = ((i & 0x55555555u) << 1) | ((i & 0xAAAAAAAAu) >> 1);
    i = ((i & 0x33333333u) << 2) | ((i & 0xCCCCCCCCu) >> 2);
    i = ((i & 0x0F0F0F0Fu) << 4) | ((i & 0xF0F0F0F0u) >> 4);
    i = ((i & 0x00FF00FFu) << 8) | ((i & 0xFF00FF00u) >> 8);
    return i * (1.0 / 4294967296.0);
}

// The S points of a pass over the unit square: a Hammersley set, each texel's shifted by its
// own seed (one stratum of the first coordinate per sample) and turned about the second, so
// that neighbouring texels do not share a pattern. The second coordinate is kept as the cosine
// and sine of its angle, turned per texel by one rotation.
class samplePattern {
public:
    explicit samplePattern(int samples) : count(samples), cosines(samples), sines(samples)
    {
        for (int i = 0; i < samples; ++i) {
            const double angle = 2 * pi * radicalInverse(static_cast<uint32_t>(i));
            cosines[i] = std::cos(angle);
            sines[i] = std::sin(angle);
        }
    }

    struct texelShift {
        double first;    // in [0, 1): where in its stratum each first coordinate lies
        double cosTurn, sinTurn;
    };
    texelShift shiftFor(uint64_t seed) const
    {
        const double first = (seed >> 40) * (1.0 / 16777216.0);
        const double turn = 2 * pi * ((seed >> 16) & 0xFFFFFF) * (1.0 / 16777216.0);
        return {first, std::cos(turn), std::sin(turn)};
    }
    // Sample i: the first coordinate, and the cosine and sine of the second's angle.
    void at(int i, const texelShift& shift, double& u, double& c, double& s) const
    {
        u = (i + shift.first) / count;
        c = cosines[i] * shift.cosTurn - sines[i] * shift.sinTurn;
        s = sines[i] * shift.cosTurn + cosines[i] * shift.sinTurn;
    }
    int count;

private:
    std::vector<double> cosines, sines;
};

// A cosine-weighted direction about the unit normal n, in the frame (s, t, n).
inline vec3 cosineDirection(vec3 n, vec3 s, vec3 t, double u, double c, double si)
{
    const double r = std::sqrt(u);
    const double z = std::sqrt(std::max(0.0, 1.0 - u));
    return s * (r * c) + t * (r * si) + n * z;
}

inline void setRay(RTCRay& ray, vec3 o, vec3 d, float tfar)
{
    ray.org_x = static_cast<float>(o.x);
    ray.org_y = static_cast<float>(o.y);
    ray.org_z = static_cast<float>(o.z);
    ray.tnear = 0.0f;
    ray.dir_x = static_cast<float>(d.x);
    ray.dir_y = static_cast<float>(d.y);
    ray.dir_z = static_cast<float>(d.z);
    ray.time = 0.0f;
    ray.tfar = tfar;
    ray.mask = ~0u;
    ray.id = 0;
    ray.flags = 0;
}

// One light as the rays see it.
struct tracedLight {
    light* source;
    lightForm form;
};

// Where a texel's rays start: its surface point, first lifted off the flat triangle to where
// the smooth surface that the corner normals describe would be (so that a lit texel on a
// tessellated curve does not shadow itself), then moved a little off the triangle's plane to
// the side of the texel's normal.
vec3 rayOrigin(const polygon& poly, vec3 p, vec3 n, double lift)
{
    const vec3 a = of(poly.position[0]), b = of(poly.position[1]), c = of(poly.position[2]);
    vec3 face = of(poly.faceNormal);
    if (dot(face, n) < 0)
        face = face * -1.0;
    const vec3 e1 = b - a, e2 = c - a, q = p - a;
    const double d00 = dot(e1, e1), d01 = dot(e1, e2), d11 = dot(e2, e2);
    const double d20 = dot(q, e1), d21 = dot(q, e2);
    const double det = d00 * d11 - d01 * d01;
    vec3 start = p;
    if (det > 0 && std::isfinite(det)) {
        double w1 = (d11 * d20 - d01 * d21) / det;
        double w2 = (d00 * d21 - d01 * d20) / det;
        double w[3] = {1 - w1 - w2, w1, w2};
        double sum = 0;
        for (double& v : w) {
            v = std::max(0.0, v);
            sum += v;
        }
        vec3 shifted{0, 0, 0};
        bool usable = sum > 0;
        const vec3 corners[3] = {a, b, c};
        for (int k = 0; k < 3 && usable; ++k) {
            vec3 nk = of(poly.normal[k]);
            const double len = length(nk);
            if (!(len > 0) || !std::isfinite(len)) {
                usable = false;
                break;
            }
            nk = nk * (1.0 / len);
            const vec3 onPlane = p - nk * dot(p - corners[k], nk);
            shifted = shifted + onPlane * (w[k] / sum);
        }
        // Only ever away from the surface, never into it.
        if (usable && finite(shifted) && dot(shifted - p, face) > 0)
            start = shifted;
    }
    if (finite(face))
        start = start + face * lift;
    return start;
}

// An object's texels with their points, normals and covering triangles, as the rays need them.
struct tracedObject {
    object* obj = nullptr;
    int index = 0;
    int w = 0, h = 0;
    std::vector<int> covered; // texel indices y * w + x with a covering polygon, per row in order
    std::vector<int> rowStart; // covered[rowStart[y] .. rowStart[y + 1]) lie in row y
    std::vector<const polygon*> covering; // per covered texel
    // Per covered texel: its surface point, unit normal (none: the texel sends no rays) and
    // where its rays start.
    std::vector<vec3> points, normals, origins;
    std::vector<uint8_t> hasNormal;
    // Per shading polygon, what a bounce ray that meets it needs: texture coordinates and face
    // normal. Only made for bounces.
    std::vector<float> triangles;
    static constexpr int triangleFloats = 9;
};

// The diffuse material colour at texel (x, y), as a bounce passes it on; black where the
// material has no colour there.
colour diffuseColourAt(const object& obj, int x, int y)
{
    const texture& d = obj.diffuseTexture;
    if (d.uniform)
        return *d.uniform;
    const bitmap* image = d.image.get();
    if (image && image->pixels && x < image->width && y < image->height)
        return image->pixelAt(x, y);
    return colour(0, 0, 0, 255);
}

tracedObject describe(object* obj, int index, double lift, bool forBounces)
{
    tracedObject t;
    t.obj = obj;
    t.index = index;
    if (!obj->finalBitmap || !obj->finalBitmap->pixels || obj->alphaMap.empty() || obj->positionsMap.empty() ||
        obj->normalsMap.empty())
        return t;
    t.w = obj->finalBitmap->width;
    t.h = obj->finalBitmap->height;
    t.rowStart.assign(static_cast<size_t>(t.h) + 1, 0);
    for (int y = 0; y < t.h; ++y) {
        t.rowStart[y] = static_cast<int>(t.covered.size());
        for (int x = 0; x < t.w; ++x)
            if (const polygon* poly = obj->alphaMap[x][y]) {
                t.covered.push_back(y * t.w + x);
                t.covering.push_back(poly);
            }
    }
    t.rowStart[t.h] = static_cast<int>(t.covered.size());
    const size_t n = t.covered.size();
    t.points.resize(n);
    t.normals.resize(n);
    t.origins.resize(n);
    t.hasNormal.assign(n, 0);
    if (forBounces) {
        t.triangles.resize(obj->shadingPolygons.size() * tracedObject::triangleFloats);
        for (size_t i = 0; i < obj->shadingPolygons.size(); ++i) {
            const polygon& poly = obj->shadingPolygons[i];
            float* f = &t.triangles[i * tracedObject::triangleFloats];
            for (int k = 0; k < 3; ++k) {
                f[2 * k] = static_cast<float>(poly.texCoord[k].x);
                f[2 * k + 1] = static_cast<float>(poly.texCoord[k].y);
            }
            f[6] = static_cast<float>(poly.faceNormal.x);
            f[7] = static_cast<float>(poly.faceNormal.y);
            f[8] = static_cast<float>(poly.faceNormal.z);
        }
    }
    // Every pass starts its rays at the same points: worked out once, shared among the threads.
    const int pieces = (t.h + 15) / 16;
    sharedWorkers().forEachPiece(pieces, [&](int piece) {
        const size_t first = static_cast<size_t>(t.rowStart[std::min(t.h, 16 * piece)]);
        const size_t end = static_cast<size_t>(t.rowStart[std::min(t.h, 16 * piece + 16)]);
        for (size_t k = first; k < end; ++k) {
            const int texel = t.covered[k];
            const vec3 p = of(obj->positionsMap[texel / t.w][texel % t.w]);
            vec3 nn = of(obj->normalsMap[texel / t.w][texel % t.w]);
            const double len = length(nn);
            t.points[k] = p;
            if (!(len > 0) || !std::isfinite(len) || !finite(p))
                continue;
            nn = nn * (1.0 / len);
            t.normals[k] = nn;
            t.hasNormal[k] = 1;
            t.origins[k] = rayOrigin(*t.covering[k], p, nn, lift);
        }
    });
    return t;
}

// Prints "<title>NN%\r" at most four times a second, and the last line whole.
class progressReport {
public:
    explicit progressReport(std::string title) : title(std::move(title)), last(steadyClock::now()) { show(0); }
    void update(int done, int total)
    {
        const auto now = steadyClock::now();
        if (done >= total || now - last < std::chrono::milliseconds(250))
            return;
        last = now;
        show(total > 0 ? static_cast<int>(100LL * done / total) : 100);
    }
    void finish() { say("%s100%%\n", title.c_str()); }

private:
    void show(int percent) { sayProgress(title.c_str(), percent); }
    std::string title;
    steadyClock::time_point last;
};

class tracer {
public:
    tracer(object* const* objects, int count, light* lights, const traceSettings& settings)
        : settings(settings), scene(objects, count)
    {
        for (light* l = lights; l; l = l->next) {
            tracedLight t{l, l->form()};
            shareable = shareable && t.form.shareable;
            this->lights.push_back(t);
        }
        const double diagonal = scene.diagonal();
        lift = 2e-5 * (diagonal > 0 && std::isfinite(diagonal) ? diagonal : 1.0);
        for (int i = 0; i < count; ++i)
            this->objects.push_back(describe(objects[i], i, lift, settings.bounces > 0));
        occlusionReach = settings.occlusionDistance > 0 ? settings.occlusionDistance : diagonal / 10;
        if (!(occlusionReach > 0))
            occlusionReach = 1.0;
        report.buildSeconds = scene.buildSeconds;
        report.triangles = scene.triangles;
    }

    traceReport run()
    {
        if (!scene.ready())
            return report;
        for (tracedObject& t : objects) {
            auto traced = std::make_unique<tracedTexels>();
            const size_t texels = static_cast<size_t>(t.w) * t.h;
            if (settings.shadows && !lights.empty()) {
                traced->lightCount = static_cast<int>(lights.size());
                traced->visibility.assign(texels * lights.size(), 1.0f);
            }
            if (settings.ambientOcclusion)
                traced->occlusion.assign(texels, 1.0f);
            if (settings.bounces > 0)
                traced->indirect.assign(3 * texels, 0.0f);
            t.obj->traced = std::move(traced);
        }
        const int n = static_cast<int>(objects.size());
        // Bounced light starts from every object's direct light, shadows included.
        if (settings.shadows && !lights.empty())
            for (tracedObject& t : objects)
                if (settings.wanted(t.index) || settings.bounces > 0)
                    timed(report.shadowSeconds, "Tracing shadows", t, n, [&](int y) { shadowRow(t, y); });
        if (settings.ambientOcclusion)
            for (tracedObject& t : objects)
                if (settings.wanted(t.index))
                    timed(report.occlusionSeconds, "Tracing occlusion", t, n, [&](int y) { occlusionRow(t, y); });
        if (settings.bounces > 0)
            bounce();
        report.shadowRays = shadowRays;
        report.occlusionRays = occlusionRays;
        report.bounceRays = bounceRays;
        report.traced = true;
        return report;
    }

private:
    // Runs row(y) for every row of t, shared among the threads when the lights allow it, with
    // a progress line; adds the time taken to seconds.
    template <typename Row>
    void timed(double& seconds, const std::string& what, const tracedObject& t, int objectCount, Row row)
    {
        const auto start = steadyClock::now();
        char title[160];
        std::snprintf(title, sizeof title, "%s of object %d of %d: ", what.c_str(), t.index + 1, objectCount);
        progressReport progress(title);
        const int slab = 16;
        for (int y0 = 0; y0 < t.h; y0 += slab) {
            const int rows = std::min(slab, t.h - y0);
            if (shareable)
                sharedWorkers().forEachPiece(rows, [&](int i) { row(y0 + i); });
            else
                for (int i = 0; i < rows; ++i)
                    row(y0 + i);
            progress.update(y0 + rows, t.h);
        }
        progress.finish();
        seconds += std::chrono::duration<double>(steadyClock::now() - start).count();
    }

    // Where light l stands as seen from p: the direction towards it (not normalised).
    vec3 towards(const tracedLight& l, vec3 p) const
    {
        if (l.form.shape == lightForm::directional)
            return of(l.form.direction);
        if (l.form.shape == lightForm::unlimitedPoint)
            return of(l.form.position) - p;
        return of(l.source->toLight(vector(p.x, p.y, p.z)));
    }

    void shadowRow(const tracedObject& t, int y)
    {
        thread_local std::vector<RTCRay> rays;
        thread_local std::vector<int> owner; // slot of each ray: texel of the row times lights, plus light
        thread_local std::vector<int> open;  // per slot: unblocked rays
        thread_local std::vector<uint8_t> lit; // per slot: the light is on the texel's front side
        tracedTexels& out = *t.obj->traced;
        const bool soft = settings.lightRadius > 0;
        const int samples = soft ? pattern->count : 1;
        const size_t lightCount = lights.size();
        const double r2 = settings.lightRadius * settings.lightRadius;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        long long traced = 0;
        rays.clear();
        owner.clear();
        auto flush = [&] {
            if (rays.empty())
                return;
            rtcOccluded1M(scene.handle(), &context, rays.data(), static_cast<unsigned>(rays.size()), sizeof(RTCRay));
            for (size_t k = 0; k < rays.size(); ++k)
                if (rays[k].tfar >= 0)
                    ++open[static_cast<size_t>(owner[k])];
            traced += static_cast<long long>(rays.size());
            rays.clear();
            owner.clear();
        };
        const int first = t.rowStart[y], end = t.rowStart[y + 1];
        open.assign(static_cast<size_t>(end - first) * lightCount, 0);
        lit.assign(open.size(), 0);
        for (int k = first; k < end; ++k) {
            if (!t.hasNormal[k])
                continue;
            const vec3 p = t.points[k], n = t.normals[k], o = t.origins[k];
            for (size_t li = 0; li < lightCount; ++li) {
                const tracedLight& l = lights[li];
                const vec3 toward = towards(l, p);
                // A light behind the texel adds nothing, blocked or not.
                if (!(dot(toward, n) > 0))
                    continue;
                const int slot = static_cast<int>((k - first) * lightCount + li);
                lit[static_cast<size_t>(slot)] = 1;
                RTCRay ray;
                if (l.form.shape == lightForm::directional) {
                    setRay(ray, o, toward, std::numeric_limits<float>::infinity());
                    rays.push_back(ray);
                    owner.push_back(slot);
                    continue;
                }
                const vec3 d = (p + toward) - o;
                const double dist = length(d);
                if (!soft || dist <= settings.lightRadius) {
                    setRay(ray, o, d, 1.0f - 1e-4f);
                    rays.push_back(ray);
                    owner.push_back(slot);
                    continue;
                }
                // Directions within the cone of the sphere's visible cap, and the distance to it.
                const vec3 axis = d * (1.0 / dist);
                vec3 s, tt;
                frameAbout(axis, s, tt);
                const double ratio = settings.lightRadius / dist;
                const double cosMax = std::sqrt(std::max(0.0, 1.0 - ratio * ratio));
                const samplePattern::texelShift shift =
                    pattern->shiftFor(traceSeed(t.index, t.covered[static_cast<size_t>(k)], firstLightPass + static_cast<int>(li)));
                for (int i = 0; i < samples; ++i) {
                    double u, c, si;
                    pattern->at(i, shift, u, c, si);
                    const double cosT = 1.0 - u * (1.0 - cosMax);
                    const double sinT = std::sqrt(std::max(0.0, 1.0 - cosT * cosT));
                    const vec3 dir = s * (sinT * c) + tt * (sinT * si) + axis * cosT;
                    if (dot(dir, n) <= 0)
                        continue; // below the horizon: counts as blocked
                    const double reach = dist * cosT - std::sqrt(std::max(0.0, r2 - dist * dist * sinT * sinT));
                    setRay(ray, o, dir, static_cast<float>(reach * (1.0 - 1e-4)));
                    rays.push_back(ray);
                    owner.push_back(slot);
                }
            }
            if (rays.size() >= 1024)
                flush();
        }
        flush();
        for (int k = first; k < end; ++k) {
            const int texel = t.covered[static_cast<size_t>(k)];
            for (size_t li = 0; li < lightCount; ++li) {
                const size_t slot = static_cast<size_t>(k - first) * lightCount + li;
                if (lit[slot])
                    out.visibility[static_cast<size_t>(texel) * lightCount + li] =
                        static_cast<float>(open[slot]) / static_cast<float>(samples);
            }
        }
        shadowRays += traced;
    }

    // Calls ray(origin, direction) for each of the pass's cosine-weighted directions about the
    // normal of covered texel k.
    template <typename Ray>
    void hemisphereRays(const tracedObject& t, int k, int pass, Ray ray) const
    {
        const vec3 n = t.normals[k];
        vec3 s, tt;
        frameAbout(n, s, tt);
        const samplePattern::texelShift shift = pattern->shiftFor(traceSeed(t.index, t.covered[k], pass));
        for (int i = 0; i < pattern->count; ++i) {
            double u, c, si;
            pattern->at(i, shift, u, c, si);
            ray(t.origins[k], cosineDirection(n, s, tt, u, c, si));
        }
    }

    // Traces the pass's cosine-weighted rays of row y's texels in streams of whole texels:
    // makeRay(origin, direction) gives each ray, traceStream(texels) traces the rays of those
    // texels (samples each, in order) and takes what they found. Returns the rays traced.
    template <typename Ray, typename MakeRay, typename TraceStream>
    long long hemisphereStreams(const tracedObject& t, int y, int pass, std::vector<Ray>& rays, MakeRay makeRay,
                                TraceStream traceStream) const
    {
        // Some hundreds of rays make a stream worth its set-up.
        const size_t perCall = static_cast<size_t>(std::max(1, 512 / pattern->count));
        thread_local std::vector<int> texels;
        long long traced = 0;
        auto flush = [&] {
            if (texels.empty())
                return;
            traceStream(texels);
            traced += static_cast<long long>(rays.size());
            rays.clear();
            texels.clear();
        };
        rays.clear();
        texels.clear();
        for (int k = t.rowStart[y]; k < t.rowStart[y + 1]; ++k) {
            if (!t.hasNormal[k])
                continue;
            hemisphereRays(t, k, pass, [&](vec3 o, vec3 d) { rays.push_back(makeRay(o, d)); });
            texels.push_back(t.covered[static_cast<size_t>(k)]);
            if (texels.size() >= perCall)
                flush();
        }
        flush();
        return traced;
    }

    void occlusionRow(const tracedObject& t, int y)
    {
        thread_local std::vector<RTCRay> rays;
        tracedTexels& out = *t.obj->traced;
        const int samples = pattern->count;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        auto makeRay = [&](vec3 o, vec3 d) {
            RTCRay ray;
            setRay(ray, o, d, static_cast<float>(occlusionReach));
            return ray;
        };
        occlusionRays += hemisphereStreams(t, y, occlusionPass, rays, makeRay, [&](const std::vector<int>& texels) {
            rtcOccluded1M(scene.handle(), &context, rays.data(), static_cast<unsigned>(rays.size()), sizeof(RTCRay));
            for (size_t b = 0; b < texels.size(); ++b) {
                int open = 0;
                for (int i = 0; i < samples; ++i)
                    open += rays[b * samples + i].tfar >= 0;
                out.occlusion[static_cast<size_t>(texels[b])] = static_cast<float>(open) / static_cast<float>(samples);
            }
        });
    }

    // The direct diffuse light sums of every covered texel, as the diffuse term forms them
    // (traced visibility included), 3 per texel.
    void directSums(const tracedObject& t, std::vector<float>& sums) const
    {
        sums.assign(3 * static_cast<size_t>(t.w) * t.h, 0.0f);
        const tracedTexels& traced = *t.obj->traced;
        for (size_t k = 0; k < t.covered.size(); ++k) {
            if (!t.hasNormal[k])
                continue;
            const int texel = t.covered[k];
            const vec3 n = t.normals[k];
            const vector p(t.points[k].x, t.points[k].y, t.points[k].z);
            float* sum = &sums[3 * static_cast<size_t>(texel)];
            for (size_t li = 0; li < lights.size(); ++li) {
                const tracedLight& l = lights[li];
                vec3 L = towards(l, t.points[k]);
                const colour c = l.form.shape == lightForm::general ? l.source->illumination(p) : l.form.colour;
                const double len = length(L);
                if (!(len > 0))
                    continue;
                L = L * (1.0 / len);
                const float d = static_cast<float>(dot(L, n));
                if (!(d > 0))
                    continue;
                const float v = traced.visibility.empty()
                                    ? 1.0f
                                    : traced.visibility[static_cast<size_t>(texel) * lights.size() + li];
                sum[0] += c.red * inv255 * d * v;
                sum[1] += c.green * inv255 * d * v;
                sum[2] += c.blue * inv255 * d * v;
            }
        }
    }

    // Bounce k at every texel: the average over cosine-weighted rays of what bounce k - 1
    // left where each ray first meets a surface from its front, times that surface's albedo.
    void bounce()
    {
        std::vector<std::vector<float>> direct(objects.size()), previous(objects.size()), next(objects.size());
        for (size_t i = 0; i < objects.size(); ++i) {
            directSums(objects[i], direct[i]);
            previous[i] = direct[i];
        }
        const int n = static_cast<int>(objects.size());
        std::vector<std::vector<float>> leaving(objects.size());
        for (int k = 1; k <= settings.bounces; ++k) {
            // What each texel sends on: its albedo times its light, one look-up per ray.
            for (size_t i = 0; i < objects.size(); ++i) {
                const tracedObject& t = objects[i];
                leaving[i].resize(previous[i].size());
                for (int texel = 0; texel < t.w * t.h; ++texel) {
                    const colour c = diffuseColourAt(*t.obj, texel % t.w, texel / t.w);
                    const float albedo[3] = {c.red * inv255, c.green * inv255, c.blue * inv255};
                    for (int ch = 0; ch < 3; ++ch)
                        leaving[i][3 * texel + ch] = albedo[ch] * previous[i][3 * texel + ch];
                }
            }
            for (size_t i = 0; i < objects.size(); ++i) {
                const tracedObject& t = objects[i];
                // The last bounce passes nothing on.
                if (k == settings.bounces && !settings.wanted(t.index))
                    continue;
                next[i] = direct[i];
                std::vector<float>& gathered = t.obj->traced->indirect;
                char what[64];
                std::snprintf(what, sizeof what, "Tracing bounce %d", k);
                timed(report.bounceSeconds, what, t, n,
                      [&](int y) { gatherRow(t, y, k, leaving, gathered, next[i]); });
            }
            std::swap(previous, next);
        }
    }

    void gatherRow(const tracedObject& t, int y, int k, const std::vector<std::vector<float>>& leaving,
                   std::vector<float>& gathered, std::vector<float>& sums)
    {
        thread_local std::vector<RTCRayHit> rays;
        thread_local std::vector<const float*> found; // per ray: what its surface sends, or none
        const int samples = pattern->count;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        auto makeRay = [](vec3 o, vec3 d) {
            RTCRayHit ray;
            setRay(ray.ray, o, d, std::numeric_limits<float>::infinity());
            ray.hit.geomID = RTC_INVALID_GEOMETRY_ID;
            ray.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
            return ray;
        };
        bounceRays += hemisphereStreams(t, y, firstBouncePass + k, rays, makeRay, [&](const std::vector<int>& texels) {
            rtcIntersect1M(scene.handle(), &context, rays.data(), static_cast<unsigned>(rays.size()),
                           sizeof(RTCRayHit));
            // All look-ups first, so that their memory is fetched side by side.
            found.assign(rays.size(), nullptr);
            for (size_t ray = 0; ray < rays.size(); ++ray) {
                const RTCRayHit& hit = rays[ray];
                if (hit.hit.geomID == RTC_INVALID_GEOMETRY_ID)
                    continue; // left the scene
                const tracedObject& at = objects[hit.hit.geomID];
                if (at.w <= 0)
                    continue;
                const float* f = &at.triangles[size_t(hit.hit.primID) * tracedObject::triangleFloats];
                if (!(hit.ray.dir_x * f[6] + hit.ray.dir_y * f[7] + hit.ray.dir_z * f[8] < 0))
                    continue; // the back of a surface gives back nothing
                const float u = hit.hit.u, v = hit.hit.v, w0 = 1.0f - u - v;
                const float tu = w0 * f[0] + u * f[2] + v * f[4];
                const float tv = w0 * f[1] + u * f[3] + v * f[5];
                // Each texel's point is its lower-left corner in texture space.
                const int x = std::min(static_cast<int>(std::clamp(tu, 0.0f, 1.0f) * at.w + 0.5f), at.w - 1);
                const int yy = std::min(static_cast<int>(std::clamp(tv, 0.0f, 1.0f) * at.h + 0.5f), at.h - 1);
                found[ray] = &leaving[static_cast<size_t>(at.index)][3 * (static_cast<size_t>(yy) * at.w + x)];
                __builtin_prefetch(found[ray]);
            }
            for (size_t b = 0; b < texels.size(); ++b) {
                double r = 0, g = 0, bl = 0;
                for (int i = 0; i < samples; ++i)
                    if (const float* sent = found[b * samples + i]) {
                        r += sent[0];
                        g += sent[1];
                        bl += sent[2];
                    }
                const size_t texel = static_cast<size_t>(texels[b]);
                const float add[3] = {static_cast<float>(r / samples), static_cast<float>(g / samples),
                                      static_cast<float>(bl / samples)};
                for (int c = 0; c < 3; ++c) {
                    gathered[3 * texel + c] = add[c];
                    sums[3 * texel + c] += add[c];
                }
            }
        });
    }

    const traceSettings& settings;
    rayScene scene;
    std::vector<tracedLight> lights;
    std::vector<tracedObject> objects;
    bool shareable = true;
    double lift = 0;
    double occlusionReach = 0;
    std::unique_ptr<samplePattern> pattern = std::make_unique<samplePattern>(std::max(1, settings.samples));
    std::atomic<long long> shadowRays{0}, occlusionRays{0}, bounceRays{0};
    traceReport report;
};

} // namespace

uint64_t traceSeed(int objectIndex, int64_t texel, int pass)
{
    return mixBits(mixBits(static_cast<uint64_t>(objectIndex) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(pass)) ^
                   static_cast<uint64_t>(texel));
}

traceReport traceScene(object* const* objects, int count, light* lights, const traceSettings& settings)
{
    if (!settings.any())
        return {};
    tracer work(objects, count, lights, settings);
    traceReport report = work.run();
    if (report.traced) {
        const double seconds = report.traceSeconds();
        say("Traced %lld rays through %lld triangles in %.2f s (%.1f M rays/s; ray scene built in %.2f s)\n",
            report.rays(), report.triangles, seconds, seconds > 0 ? report.rays() / seconds / 1e6 : 0.0,
            report.buildSeconds);
    }
    return report;
}
