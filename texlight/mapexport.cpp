#include "texlight/mapexport.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "mesh/object.h"
#include "texlight/lighting.h"

#include <cmath>

namespace {

// The low eight bits of the value truncated toward zero, for any size of value.
int16_t lowByte(double value)
{
    if (!std::isfinite(value))
        return 0;
    double wrapped = std::fmod(std::trunc(value), 256.0);
    return static_cast<int16_t>(static_cast<int>(wrapped) & 0xFF);
}

// x and z are mirrored, y is not; positions are encoded unscaled and so wrap.
colour encoded(const vector& n)
{
    const double mid = 127.0f;
    return colour(lowByte(mid - mid * n.x), lowByte(mid + mid * n.y), lowByte(mid - mid * n.z), 255);
}

bool writeVectorMap(object* obj, const grid<vector>& map, const std::string& name)
{
    bitmap out(obj->finalBitmap->width, obj->finalBitmap->height, 3);
    if (out.pixels && !map.empty())
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                out.setPixel(x, y, encoded(map[y][x]));
    return writeBmp(name, &out);
}

} // namespace

bool writeMap(object* obj, unsigned kind, const std::string& name)
{
    switch (kind) {
    case diffuseKind: return writeBmp(name, obj->diffuseBitmap.get());
    case ambientKind: return writeBmp(name, obj->ambientBitmap.get());
    case specularKind: return writeBmp(name, obj->specularBitmap.get());
    case finalKind: return writeBmp(name, obj->finalBitmap.get());
    case alphaKind: {
        bitmap out(obj->finalBitmap->width, obj->finalBitmap->height, 3);
        if (out.pixels && !obj->alphaMap.empty())
            for (int y = 0; y < out.height; ++y)
                for (int x = 0; x < out.width; ++x) {
                    int16_t g = obj->alphaMap[x][y] ? 255 : 0;
                    out.setPixel(x, y, colour(g, g, g, 255));
                }
        return writeBmp(name, &out);
    }
    case normalsKind:
        // Announced only once written: a failed write prints its error and nothing else.
        if (!writeVectorMap(obj, obj->normalsMap, name))
            return false;
        say("Writing Normals Map\n");
        return true;
    case positionsKind: return writeVectorMap(obj, obj->positionsMap, name);
    default: say("Enter valid buffer for writing to BMP!\n"); return false;
    }
}
