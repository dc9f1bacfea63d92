#include "texlight/mapexport.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "mesh/object.h"
#include "texlight/lighting.h"
#include "texlight/surfacemaps.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

std::unique_ptr<bitmap> dilateCharts(const object& obj, const bitmap& map, int reach)
{
    const int w = map.width, h = map.height, bpp = map.bytesPerPixel;
    if (!map.pixels || obj.alphaMap.outer() != w || obj.alphaMap.inner() != h)
        return nullptr;
    auto out = std::make_unique<bitmap>(w, h, bpp);
    if (!out->pixels)
        return nullptr;
    std::memcpy(out->pixels.get(), map.pixels.get(), map.byteCount());

    // Covered texels summed over the rectangle below and left of each corner, so that a window
    // without any is passed over in four reads.
    const size_t stride = static_cast<size_t>(w) + 1;
    std::vector<int> below(stride * (static_cast<size_t>(h) + 1), 0);
    auto covered = [&](int x, int y) { return obj.alphaMap[x][y] != nullptr; };
    for (int y = 0; y < h; ++y)
        for (int x = 0, row = 0; x < w; ++x) {
            row += covered(x, y);
            below[(y + 1) * stride + x + 1] = below[y * stride + x + 1] + row;
        }
    auto anyCovered = [&](int x0, int y0, int x1, int y1) { // inclusive, clipped to the map
        x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, w - 1), y1 = std::min(y1, h - 1);
        return below[(y1 + 1) * stride + x1 + 1] - below[y0 * stride + x1 + 1] - below[(y1 + 1) * stride + x0] +
                   below[y0 * stride + x0] > 0;
    };

    const int reachSquared = reach * reach * 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (covered(x, y) || !anyCovered(x - reach, y - reach, x + reach, y + reach))
                continue;
            // Square rings of growing radius; none beyond the best distance can be nearer.
            int best = reachSquared + 1, bestX = 0, bestY = 0;
            auto consider = [&](int nx, int ny) {
                if (nx < 0 || nx >= w || !covered(nx, ny))
                    return;
                const int d = (nx - x) * (nx - x) + (ny - y) * (ny - y);
                if (d < best || (d == best && (ny < bestY || (ny == bestY && nx < bestX))))
                    best = d, bestX = nx, bestY = ny;
            };
            for (int r = 1; r <= reach && r * r <= best; ++r) {
                if (!anyCovered(x - r, y - r, x + r, y + r))
                    continue;
                for (int ny = std::max(y - r, 0); ny <= std::min(y + r, h - 1); ++ny) {
                    if (ny == y - r || ny == y + r) {
                        for (int nx = x - r; nx <= x + r; ++nx)
                            consider(nx, ny);
                    } else {
                        consider(x - r, ny);
                        consider(x + r, ny);
                    }
                }
            }
            if (best <= reachSquared)
                std::memcpy(out->pixels.get() + (static_cast<size_t>(y) * w + x) * bpp,
                            map.pixels.get() + (static_cast<size_t>(bestY) * w + bestX) * bpp, static_cast<size_t>(bpp));
        }
    return out;
}

std::unique_ptr<bitmap> timesColourMap(const object& obj, const bitmap& lightmap)
{
    const int w = lightmap.width, h = lightmap.height;
    if (!lightmap.pixels || lightmap.bytesPerPixel != 3 || obj.alphaMap.outer() != w || obj.alphaMap.inner() != h)
        return nullptr;
    auto out = std::make_unique<bitmap>(w, h, 3);
    if (!out->pixels)
        return nullptr;
    std::memcpy(out->pixels.get(), lightmap.pixels.get(), lightmap.byteCount());
    const bitmap* colours = obj.colourMap.get();
    if (!colours || !colours->pixels)
        return out;
    const size_t count = std::min(obj.shadingPolygons.size(), obj.polygons.size());
    // The file's coordinates spread over the texture triangle as the texel's surface point is;
    // neighbouring texels mostly share their triangle.
    const polygon* last = nullptr;
    polygon fileCoords;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const polygon* shading = obj.alphaMap[x][y];
            if (!shading || shading < obj.shadingPolygons.data() || shading >= obj.shadingPolygons.data() + count)
                continue;
            if (shading != last) {
                fileCoords = *shading;
                const polygon& drawn = obj.polygons[static_cast<size_t>(shading - obj.shadingPolygons.data())];
                // A clockwise triangle's texture corners 1 and 2 were exchanged in the shading copy.
                for (int k = 0; k < 3; ++k)
                    fileCoords.position[k] = drawn.texCoord[drawn.uvClockwise && k ? 3 - k : k];
                last = shading;
            }
            const vector uv = interpolateCorners(fileCoords, cornerAttribute::position,
                                                 vector(static_cast<double>(x) / w, static_cast<double>(y) / h, 0));
            const colour c = colours->sampleAt(static_cast<float>(uv.x), static_cast<float>(uv.y));
            uint8_t* texel = out->pixels.get() + (static_cast<size_t>(y) * w + x) * 3;
            const int16_t channels[3] = {c.red, c.green, c.blue};
            for (int i = 0; i < 3; ++i)
                texel[i] = static_cast<uint8_t>((texel[i] * std::clamp<int>(channels[i], 0, 255) + 127) / 255);
        }
    return out;
}
