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

referenceSums referenceLightSums(referenceRule rule, vector p, vector n, light* lights, vector eye, double exponent)
{
    referenceSums sums;
    vector view = eye - p;
    for (light* l = lights; l; l = l->next) {
        vector direction = l->toLight(p);
        colour c;
        if (rule == referenceRule::specular) {
            if (dot(n, direction) <= 0)
                continue;
            normalise(direction);
            c = l->illumination(p);
        } else {
            normalise(direction);
            c = l->illumination(p);
            float d = static_cast<float>(dot(direction, n));
            if (d <= 0)
                continue;
            sums.dr += c.red * inv255 * d;
            sums.dg += c.green * inv255 * d;
            sums.db += c.blue * inv255 * d;
            if (rule == referenceRule::diffuse || !(dot(n, direction) > 0))
                continue;
        }
        normalise(view);
        vector half = normalised(direction + view);
        float s = power(dot(n, half), exponent);
        sums.sr += c.red * inv255 * s;
        sums.sg += c.green * inv255 * s;
        sums.sb += c.blue * inv255 * s;
    }
    return sums;
}

void referenceAccumulateDiffuse(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        colour cd = obj->colourAt(obj->diffuseTexture, x, y);
        referenceSums t = referenceLightSums(referenceRule::diffuse, p, n, lights, eye, obj->specularCoefficient);
        store(*obj->diffuseBitmap, x, y, cd.red * std::min(t.dr, 1.0f), cd.green * std::min(t.dg, 1.0f),
              cd.blue * std::min(t.db, 1.0f));
    });
}

void referenceAccumulateSpecular(object* obj, light* lights, vector eye)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        colour cs = obj->colourAt(obj->specularTexture, x, y);
        referenceSums t = referenceLightSums(referenceRule::specular, p, n, lights, eye, obj->specularCoefficient);
        store(*obj->specularBitmap, x, y, cs.red * std::min(t.sr, 1.0f), cs.green * std::min(t.sg, 1.0f),
              cs.blue * std::min(t.sb, 1.0f));
    });
}

void referenceAccumulateAll(object* obj, light* lights, vector eye, colour ambient)
{
    if (!hasMaps(obj))
        return;
    forEachLitTexel(obj, [&](int x, int y, vector p, vector n) {
        colour ca = obj->colourAt(obj->ambientTexture, x, y);
        colour cd = obj->colourAt(obj->diffuseTexture, x, y);
        colour cs = obj->colourAt(obj->specularTexture, x, y);
        referenceSums t = referenceLightSums(referenceRule::all, p, n, lights, eye, obj->specularCoefficient);
        float fr = cd.red * t.dr + cs.red * t.sr + ambient.red * inv255 * ca.red;
        float fg = cd.green * t.dg + cs.green * t.sg + ambient.green * inv255 * ca.green;
        float fb = cd.blue * t.db + cs.blue * t.sb + ambient.blue * inv255 * ca.blue;
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
