#include "lights/shadowrays.h"

#include "mesh/object.h"

#include <cstddef>

bool pointInPolygon(const vector& q, const polygon& poly)
{
    const vector& n = poly.faceNormal;
    for (int i = 0; i < 3; ++i) {
        const vector& s = poly.position[i];
        const vector& e = poly.position[(i + 1) % 3];
        vector out = cross(e - s, n); // away from the triangle across this edge
        if (dot(q - s, out) >= 0)
            return false;
    }
    return true;
}

bool segmentHitsPolygon(const vector& d, const vector& p, const polygon& poly)
{
    const vector& n = poly.faceNormal;
    double a = dot(d, n);
    if (a >= 0) // the ray meets the back side, or runs along the plane
        return false;
    double b = dot(p - poly.position[0], n);
    if (b <= 0) // p is on or behind the plane
        return false;
    double t = b / (0 - a);
    // Only the first 90 % of the way counts, so a surface next to the light does not shade it.
    if (t >= 0.9 || t <= 0)
        return false;
    return pointInPolygon(p + d * t, poly);
}

bool shadowRayBlocked(vector d, vector p, object* const* objects, int count)
{
    if (!objects)
        return false;
    for (int i = 0; i < count; ++i) {
        const object* obj = objects[i];
        if (!obj)
            continue;
        // polygonCount is trusted only as far as the polygons really exist.
        size_t polys = obj->polygons.size();
        if (obj->polygonCount < 0)
            polys = 0;
        else if (static_cast<size_t>(obj->polygonCount) < polys)
            polys = static_cast<size_t>(obj->polygonCount);
        for (size_t j = 0; j < polys; ++j)
            if (segmentHitsPolygon(d, p, obj->polygons[j]))
                return true;
    }
    return false;
}
