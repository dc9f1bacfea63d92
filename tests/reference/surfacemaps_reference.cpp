#include "tests/reference/surfacemaps_reference.h"

#include "core/console.h"
#include "core/progress.h"
#include "mesh/object.h"

#include <cstdint>

void referenceRasteriseAlphaMap(object* obj, alphaTestPoints points)
{
    int W = obj->finalBitmap->width;
    int H = obj->finalBitmap->height;
    double du = 1.0 / W;
    double dv = 1.0 / H;
    int64_t total = int64_t(W) * H * obj->polygonCount;
    int64_t counter = 0;
    int last = -1;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            vector first, second;
            if (points == alphaTestPoints::cornerThenBack) {
                first = vector(x * du, y * dv, 0);
                second = vector(x * du - du * 0.5, y * dv - dv * 0.5, 0);
            } else {
                first = vector(x * du + du * 0.5, y * dv + dv * 0.5, 0);
                second = vector(x * du, y * dv, 0);
            }
            bool found = false;
            if (last != -1) {
                const polygon& p = obj->shadingPolygons[last];
                if (pointInTriangle(first, p.texCoord[0], p.texCoord[1], p.texCoord[2]))
                    found = true;
                else
                    last = -1;
            }
            for (int i = 0; !found && i < obj->polygonCount; ++i) {
                const polygon& p = obj->shadingPolygons[i];
                if (pointInTriangle(first, p.texCoord[0], p.texCoord[1], p.texCoord[2]) ||
                    pointInTriangle(second, p.texCoord[0], p.texCoord[1], p.texCoord[2])) {
                    found = true;
                    last = i;
                }
            }
            if (found)
                obj->alphaMap[x][y] = &obj->shadingPolygons[last];
        }
        counter += int64_t(obj->polygonCount) * W;
        sayProgress("Generating Alpha Map: ", progressPercent(counter, total));
    }
}

void referenceFillAlphaMapGaps(object* obj)
{
    int W = obj->finalBitmap->width;
    int H = obj->finalBitmap->height;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (obj->alphaMap[x][y] == nullptr && x < W - 1) {
                if (obj->alphaMap[x + 1][y] != nullptr)
                    obj->alphaMap[x][y] = obj->alphaMap[x + 1][y];
                else if (x > 0 && obj->alphaMap[x - 1][y] != nullptr)
                    obj->alphaMap[x][y] = obj->alphaMap[x - 1][y];
            }
            if (obj->alphaMap[x][y] == nullptr && y < H - 1) {
                if (obj->alphaMap[x][y + 1] != nullptr)
                    obj->alphaMap[x][y] = obj->alphaMap[x][y + 1];
                else if (y > 0 && obj->alphaMap[x][y - 1] != nullptr)
                    obj->alphaMap[x][y] = obj->alphaMap[x][y - 1];
            }
        }
}

void referenceGenerateAlphaMap(object* obj, alphaTestPoints points)
{
    referenceRasteriseAlphaMap(obj, points);
    referenceFillAlphaMapGaps(obj);
    sayText("\n");
}
