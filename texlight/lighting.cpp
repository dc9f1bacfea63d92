#include "texlight/lighting.h"

#include "core/console.h"
#include "lights/light.h"
#include "lights/pointlight.h"
#include "mesh/object.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace {

const float inv255 = 1.0f / 255.0f; // the single-precision value nearest to 1/255

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

void storePixel(bitmap& b, int x, int y, float r, float g, float bl)
{
    uint8_t* p = b.pixels.get() + 3 * (static_cast<size_t>(y) * b.width + x);
    p[0] = toByte(r);
    p[1] = toByte(g);
    p[2] = toByte(bl);
}

// A term's pixel: each accumulator limited to 1.0, times the material colour.
void storeTerm(bitmap& b, int x, int y, const colour& material, float r, float g, float bl)
{
    storePixel(b, x, y, material.red * std::min(r, 1.0f), material.green * std::min(g, 1.0f),
               material.blue * std::min(bl, 1.0f));
}

// A negative base (eye below the surface) gives no highlight.
float specularPower(double nDotH, double exponent)
{
    if (nDotH < 0)
        return 0.0f;
    return static_cast<float>(std::pow(nDotH, exponent));
}

// The lights of one call, looked at once before the texel loop. An unlimited point light,
// by far the common case, then gives its direction and colour without virtual calls; the
// values are the same as toLight and illumination would return.
struct lightSample {
    vector toLight;
    colour col;
};

struct resolvedLight {
    light* source;
    bool unlimitedPoint;
    vector position;
    colour col;

    lightSample at(const vector& p) const
    {
        if (unlimitedPoint)
            return {position - p, col};
        return {source->toLight(p), source->illumination(p)};
    }
};

std::vector<resolvedLight> resolve(light* lights)
{
    std::vector<resolvedLight> list;
    for (light* l = lights; l; l = l->next) {
        auto* point = typeid(*l) == typeid(pointlight) ? static_cast<pointlight*>(l) : nullptr;
        if (point && point->range == -1.0)
            list.push_back({l, true, point->position, point->colour});
        else
            list.push_back({l, false, vector(), colour()});
    }
    return list;
}

// A material channel's colour at a texel; a uniform colour is read once, not per texel.
class materialSource {
public:
    materialSource(const object* obj, const texture& t) : obj(obj), t(t)
    {
        if (t.uniform)
            fixed = *t.uniform;
    }
    colour at(int x, int y) const { return t.uniform ? fixed : obj->colourAt(t, x, y); }

private:
    const object* obj;
    const texture& t;
    colour fixed;
};

// Calls visit(x, y, P, N) for every texel covered by a polygon that faces the viewer.
template <typename Visit>
void forEachLitTexel(object* obj, Visit visit)
{
    const int w = obj->finalBitmap->width;
    const int h = obj->finalBitmap->height;
    for (int y = 0; y < h; ++y) {
        const vector* positions = obj->positionsMap[y];
        const vector* normals = obj->normalsMap[y];
        for (int x = 0; x < w; ++x) {
            const polygon* covering = obj->alphaMap[x][y];
            if (!covering || covering->facing != 1)
                continue;
            visit(x, y, positions[x], normals[x]);
        }
    }
}

bool hasMaps(const object* obj)
{
    return obj->finalBitmap && obj->finalBitmap->pixels && !obj->alphaMap.empty() &&
           !obj->positionsMap.empty() && !obj->normalsMap.empty();
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
    const float fr = ambient.red * inv255, fg = ambient.green * inv255, fb = ambient.blue * inv255;
    bitmap& out = *obj->ambientBitmap;
    const materialSource material(obj, obj->ambientTexture);
    forEachLitTexel(obj, [&](int x, int y, const vector&, const vector&) {
        colour ca = material.at(x, y);
        storePixel(out, x, y, ca.red * fr, ca.green * fg, ca.blue * fb);
    });
}

void accumulateDiffuse(object* obj, light* lights, vector)
{
    if (!hasMaps(obj))
        return;
    bitmap& out = *obj->diffuseBitmap;
    const materialSource material(obj, obj->diffuseTexture);
    const std::vector<resolvedLight> list = resolve(lights);
    forEachLitTexel(obj, [&](int x, int y, const vector& p, const vector& n) {
        colour cd = material.at(x, y);
        float dr = 0, dg = 0, db = 0;
        for (const resolvedLight& l : list) {
            lightSample s = l.at(p);
            vector direction = normalised(s.toLight);
            float d = static_cast<float>(dot(direction, n));
            if (d > 0) {
                dr += s.col.red * inv255 * d;
                dg += s.col.green * inv255 * d;
                db += s.col.blue * inv255 * d;
            }
        }
        storeTerm(out, x, y, cd, dr, dg, db);
    });
}

void accumulateSpecular(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    bitmap& out = *obj->specularBitmap;
    const double exponent = obj->specularCoefficient;
    const materialSource material(obj, obj->specularTexture);
    const std::vector<resolvedLight> list = resolve(lights);
    forEachLitTexel(obj, [&](int x, int y, const vector& p, const vector& n) {
        vector view = eye - p;
        colour cs = material.at(x, y);
        float sr = 0, sg = 0, sb = 0;
        for (const resolvedLight& l : list) {
            lightSample s = l.at(p);
            vector direction = s.toLight;
            if (dot(n, direction) <= 0)
                continue;
            // The view vector is normalised again for every light, as the results expect.
            normalise(view);
            normalise(direction);
            vector half = normalised(direction + view);
            float power = specularPower(dot(n, half), exponent);
            sr += s.col.red * inv255 * power;
            sg += s.col.green * inv255 * power;
            sb += s.col.blue * inv255 * power;
        }
        storeTerm(out, x, y, cs, sr, sg, sb);
    });
}

void accumulateAll(object* obj, light* lights, vector eye, colour ambient)
{
    if (!hasMaps(obj))
        return;
    bitmap& out = *obj->finalBitmap;
    const double exponent = obj->specularCoefficient;
    const float ar = ambient.red * inv255, ag = ambient.green * inv255, ab = ambient.blue * inv255;
    const materialSource ambientMaterial(obj, obj->ambientTexture);
    const materialSource diffuseMaterial(obj, obj->diffuseTexture);
    const materialSource specularMaterial(obj, obj->specularTexture);
    const std::vector<resolvedLight> list = resolve(lights);
    forEachLitTexel(obj, [&](int x, int y, const vector& p, const vector& n) {
        vector view = eye - p;
        colour ca = ambientMaterial.at(x, y);
        colour cd = diffuseMaterial.at(x, y);
        colour cs = specularMaterial.at(x, y);
        float dr = 0, dg = 0, db = 0, sr = 0, sg = 0, sb = 0;
        for (const resolvedLight& l : list) {
            lightSample s = l.at(p);
            vector direction = normalised(s.toLight);
            float d = static_cast<float>(dot(direction, n));
            if (d <= 0)
                continue;
            dr += s.col.red * inv255 * d;
            dg += s.col.green * inv255 * d;
            db += s.col.blue * inv255 * d;
            if (dot(n, direction) > 0) {
                normalise(view);
                vector half = normalised(direction + view);
                float power = specularPower(dot(n, half), exponent);
                sr += s.col.red * inv255 * power;
                sg += s.col.green * inv255 * power;
                sb += s.col.blue * inv255 * power;
            }
        }
        float fr = cd.red * dr + cs.red * sr + ar * ca.red;
        float fg = cd.green * dg + cs.green * sg + ag * ca.green;
        float fb = cd.blue * db + cs.blue * sb + ab * ca.blue;
        if (fr > 255.0f) fr = 255.0f;
        if (fg > 255.0f) fg = 255.0f;
        if (fb > 255.0f) fb = 255.0f;
        storePixel(out, x, y, fr, fg, fb);
    });
}

void composeFinal(object* obj)
{
    bitmap* f = obj->finalBitmap.get();
    if (!f || !f->pixels)
        return;
    size_t n = f->byteCount();
    const uint8_t* a = obj->ambientBitmap->pixels.get();
    const uint8_t* d = obj->diffuseBitmap->pixels.get();
    const uint8_t* s = obj->specularBitmap->pixels.get();
    uint8_t* out = f->pixels.get();
    for (size_t i = 0; i < n; ++i) {
        unsigned sum = unsigned(a[i]) + d[i] + s[i];
        out[i] = static_cast<uint8_t>(sum > 255 ? 255 : sum);
    }
}

void relight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
             bool composeWhenNone)
{
    if (terms.ambient == 1 && terms.diffuse == 1 && terms.specular == 1) {
        accumulateAll(obj, lights, eye, ambient);
        return;
    }
    bool any = terms.ambient == 1 || terms.diffuse == 1 || terms.specular == 1;
    if (!any && !composeWhenNone)
        return;
    if (terms.ambient == 1)
        accumulateAmbient(obj, ambient);
    if (terms.diffuse == 1)
        accumulateDiffuse(obj, lights, eye);
    if (terms.specular == 1)
        accumulateSpecular(obj, lights, eye);
    composeFinal(obj);
}
