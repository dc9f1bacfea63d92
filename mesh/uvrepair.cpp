#include "mesh/uvrepair.h"

#include "core/console.h"
#include "mesh/object.h"

#include <utility>

void checkUvWinding(object* obj)
{
    say("\nPERFORMING UV COUNTER CLOCKWISE TEST!\n");
    for (int i = 0; i < obj->polygonCount; ++i) {
        polygon& p = obj->polygons[i];
        vector e1 = p.texCoord[1] - p.texCoord[0];
        vector e2 = p.texCoord[2] - p.texCoord[0];
        // A degenerate texture triangle (z = 0) counts as counter-clockwise.
        p.uvClockwise = cross(e1, e2).z < 0;
    }
}

void normaliseUvs(object* obj)
{
    say("\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\n");
    if (obj->uvCount < 1) {
        sayObjectError(*obj, "Object has no UVs!");
        return;
    }
    double minU = obj->uvs[0].x, maxU = minU;
    double minV = obj->uvs[0].y, maxV = minV;
    for (int i = 0; i < obj->uvCount; ++i) {
        const vector& uv = obj->uvs[i];
        if (uv.x < minU) minU = uv.x;
        if (uv.y < minV) minV = uv.y;
        if (uv.x > maxU) maxU = uv.x;
        if (uv.y > maxV) maxV = uv.y;
    }
    // A direction without extent would divide by zero; its coordinates all map to 0 instead.
    double scaleU = (maxU - minU == 0.0) ? 1.0 : 1.0 / (maxU - minU);
    double scaleV = (maxV - minV == 0.0) ? 1.0 : 1.0 / (maxV - minV);
    say("LOWER LIMITS:   X = %2.6f Y = %2.6f\n", minU, minV);
    say("UPPER LIMITS:   X = %2.6f Y = %2.6f\n", maxU, maxV);
    say("SCALING UVS BY: X = %2.6f Y = %2.6f\n\n", scaleU, scaleV);

    if (obj->polygonCount <= 0) {
        sayObjectError(*obj, "Object has no polygons!");
        return;
    }
    obj->shadingPolygons.assign(obj->polygons.begin(), obj->polygons.begin() + obj->polygonCount);
    for (polygon& p : obj->shadingPolygons) {
        // Only texture space needs counter-clockwise triangles; the mesh keeps the file's
        // corners so that its colour texture is drawn as the file maps it.
        if (p.uvClockwise)
            std::swap(p.texCoord[1], p.texCoord[2]);
        for (vector& t : p.texCoord) {
            t.x = (t.x - minU) * scaleU;
            t.y = (t.y - minV) * scaleV;
        }
    }
}
