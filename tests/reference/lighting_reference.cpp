#include "tests/reference/lighting_reference.h"

#include "lights/light.h"
#include "mesh/object.h"

#include <algorithm>
#include <cmath>

namespace {

const float inv255 = 1.0f / 255.0f;

uint8_t toByte(float value)
{
    if (!(value > -2147483648.0f && value < 2147483648.0f))
        return 0;
    return static_cast<uint8_t>(static_cast<int>(value) & 0xFF);
}

void store(bitmap& b, int x, int y, float r, float g, float bl)
{
    uint8_t* p = b.pixels.get() + 3 * (static_cast<size_t>(y) * b.width + x);
    p[0] = toByte(r);
    p[1] = toByte(g);
    p[2] = toByte(bl);
}

float power(double nDotH, double exponent)
{
    if (nDotH < 0)
        return 0.0f;
    return static_cast<float>(std::pow(nDotH, exponent));
}

bool hasMaps(const object* obj)
{
    return obj->finalBitmap && obj->finalBitmap->pixels && !obj->alphaMap.empty() &&
           !obj->positionsMap.empty() && !obj->normalsMap.empty();
}

template <typename Visit>
void forEachLitTexel(object* obj, Visit visit)
{
    for (int y = 0; y < obj->finalBitmap->height; ++y)
        for (int x = 0; x < obj->finalBitmap->width; ++x) {
            const polygon* covering = obj->alphaMap[x][y];
            if (covering && covering->facing == 1)
                visit(x, y, obj->positionsMap[y][x], obj->normalsMap[y][x]);
        }
}

} // namespace

void referenceAccumulateAmbient(object* obj, colour ambient)
{
    if (!hasMaps(obj))
        return;
    const float fr = ambient.red * inv255, fg = ambient.green * inv255, fb = ambient.blue * inv255;
    forEachLitTexel(obj, [&](int x, int y, vector, vector) {
        colour ca = obj->colourAt(obj->ambientTexture, x, y);
        store(*obj->ambientBitmap, x, y, ca.red * fr, ca.green * fg, ca.blue * fb);
    });
}

void referenceAccumulateDiffuse(object* obj, light* lights, vector)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        colour cd = obj->colourAt(obj->diffuseTexture, x, y);
        float dr = 0, dg = 0, db = 0;
        for (light* l = lights; l; l = l->next) {
            vector direction = normalised(l->toLight(p));
            colour c = l->illumination(p);
            float d = static_cast<float>(dot(direction, n));
            if (d > 0) {
                dr += c.red * inv255 * d;
                dg += c.green * inv255 * d;
                db += c.blue * inv255 * d;
            }
        }
        store(*obj->diffuseBitmap, x, y, cd.red * std::min(dr, 1.0f), cd.green * std::min(dg, 1.0f),
              cd.blue * std::min(db, 1.0f));
    });
}

void referenceAccumulateSpecular(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        vector view = eye - p;
        colour cs = obj->colourAt(obj->specularTexture, x, y);
        float sr = 0, sg = 0, sb = 0;
        for (light* l = lights; l; l = l->next) {
            vector direction = l->toLight(p);
            if (dot(n, direction) <= 0)
                continue;
            normalise(view);
            normalise(direction);
            colour c = l->illumination(p);
            vector half = normalised(direction + view);
            float s = power(dot(n, half), obj->specularCoefficient);
            sr += c.red * inv255 * s;
            sg += c.green * inv255 * s;
            sb += c.blue * inv255 * s;
        }
        store(*obj->specularBitmap, x, y, cs.red * std::min(sr, 1.0f), cs.green * std::min(sg, 1.0f),
              cs.blue * std::min(sb, 1.0f));
    });
}

void referenceAccumulateAll(object* obj, light* lights, vector eye, colour ambient)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        vector view = eye - p;
        colour ca = obj->colourAt(obj->ambientTexture, x, y);
        colour cd = obj->colourAt(obj->diffuseTexture, x, y);
        colour cs = obj->colourAt(obj->specularTexture, x, y);
        float dr = 0, dg = 0, db = 0, sr = 0, sg = 0, sb = 0;
        for (light* l = lights; l; l = l->next) {
            vector direction = normalised(l->toLight(p));
            colour c = l->illumination(p);
            float d = static_cast<float>(dot(direction, n));
            if (d <= 0)
                continue;
            dr += c.red * inv255 * d;
            dg += c.green * inv255 * d;
            db += c.blue * inv255 * d;
            if (dot(n, direction) > 0) {
                normalise(view);
                vector half = normalised(direction + view);
                float s = power(dot(n, half), obj->specularCoefficient);
                sr += c.red * inv255 * s;
                sg += c.green * inv255 * s;
                sb += c.blue * inv255 * s;
            }
        }
        float fr = cd.red * dr + cs.red * sr + ambient.red * inv255 * ca.red;
        float fg = cd.green * dg + cs.green * sg + ambient.green * inv255 * ca.green;
        float fb = cd.blue * db + cs.blue * sb + ambient.blue * inv255 * ca.blue;
        store(*obj->finalBitmap, x, y, std::min(fr, 255.0f), std::min(fg, 255.0f), std::min(fb, 255.0f));
    });
}

void referenceComposeFinal(object* obj)
{
    bitmap* f = obj->finalBitmap.get();
    if (!f || !f->pixels)
        return;
    for (size_t i = 0; i < f->byteCount(); ++i) {
        unsigned sum = unsigned(obj->ambientBitmap->pixels[i]) + obj->diffuseBitmap->pixels[i] +
                       obj->specularBitmap->pixels[i];
        f->pixels[i] = static_cast<uint8_t>(std::min(sum, 255u));
    }
}

void referenceRelight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
                      bool composeWhenNone)
{
    if (terms.ambient == 1 && terms.diffuse == 1 && terms.specular == 1) {
        referenceAccumulateAll(obj, lights, eye, ambient);
        return;
    }
    if (terms.ambient != 1 && terms.diffuse != 1 && terms.specular != 1 && !composeWhenNone)
        return;
    if (terms.ambient == 1)
        referenceAccumulateAmbient(obj, ambient);
    if (terms.diffuse == 1)
        referenceAccumulateDiffuse(obj, lights, eye);
    if (terms.specular == 1)
        referenceAccumulateSpecular(obj, lights, eye);
    referenceComposeFinal(obj);
}
