#include "lights/shadowvolume.h"

#include "mesh/object.h"

#include <algorithm>

namespace {

vector centre(const polygon& p)
{
    return ((p.position[0] + p.position[1]) + p.position[2]) / 3.0;
}

bool validFace(const object& obj, int index)
{
    return index >= 0 && index < static_cast<int>(obj.polygons.size());
}

} // namespace

vector farCorner(vector point, vector lightPosition)
{
    // Extruding from the end point rather than from the origin keeps the volume attached to
    // its edge wherever the scene sits; normalised leaves a zero ray at zero length.
    return point + normalised(point - lightPosition) * shadowExtrusion;
}

std::vector<quad> buildShadowQuads(object** objects, int count, vector lightPosition)
{
    std::vector<quad> quads;
    if (!objects)
        return quads;
    for (int i = 0; i < count; ++i) {
        object* obj = objects[i];
        if (!obj)
            continue;
        obj->markFacing(lightPosition);
        const int edgeCount = std::min(obj->edgeCount, static_cast<int>(obj->edges.size()));
        for (int k = 0; k < edgeCount; ++k) {
            const edge& e = obj->edges[k];
            if (!validFace(*obj, e.firstFace))
                continue;
            const polygon& a = obj->polygons[e.firstFace];
            const bool boundary = e.secondFace == -1;
            if (!boundary && !validFace(*obj, e.secondFace))
                continue;
            if (!boundary && a.facing == obj->polygons[e.secondFace].facing)
                continue;

            vector middle = (e.start + e.end) / 2.0;
            vector outward = middle - centre(a);
            if (!boundary)
                outward = outward + (middle - centre(obj->polygons[e.secondFace]));

            vector f0 = farCorner(e.start, lightPosition);
            vector f1 = farCorner(e.end, lightPosition);
            vector q = normalised(cross(e.end - e.start, f0 - e.start));

            quad face;
            if (dot(outward, q) >= 0) {
                face.corners[0] = e.start;
                face.corners[1] = e.end;
                face.corners[2] = f1;
                face.corners[3] = f0;
            } else {
                face.corners[0] = f0;
                face.corners[1] = f1;
                face.corners[2] = e.end;
                face.corners[3] = e.start;
            }
            face.faceNormal = q;
            quads.push_back(face);
        }
    }
    return quads;
}
