#include "pipeline/outlines.h"

#include "lights/light.h"
#include "mesh/object.h"

#include <algorithm>

std::array<vector, 3> bentNormals(const polygon& poly, light* lights)
{
    std::array<vector, 3> bent = {vector(0, 0, 0), vector(0, 0, 0), vector(0, 0, 0)};
    for (light* l = lights; l; l = l->next) {
        for (int k = 0; k < 3; ++k) {
            vector toLight = normalised(l->toLight(poly.position[k]));
            double d = dot(toLight, poly.normal[k]);
            if (d > 0.5) {
                bent[k] = bent[k] + toLight;
            } else {
                // Slides from the light direction at 60 degrees back to the file normal at
                // 90, and beyond it pushes the normal away from the light.
                double t = 2.0 * d;
                bent[k] = poly.normal[k] * (1.0 - t) + toLight * t;
            }
        }
    }
    for (vector& n : bent)
        normalise(n);
    return bent;
}

std::vector<int> outlineEdges(const object& obj)
{
    std::vector<int> drawn;
    const int polygonCount = static_cast<int>(obj.polygons.size());
    const int edgeCount = std::min(obj.edgeCount, static_cast<int>(obj.edges.size()));
    for (int i = 0; i < edgeCount; ++i) {
        const edge& e = obj.edges[i];
        if (e.sharp == 1) {
            drawn.push_back(i);
            continue;
        }
        if (e.secondFace < 0 || e.secondFace >= polygonCount || e.firstFace < 0 ||
            e.firstFace >= polygonCount)
            continue;
        if (obj.polygons[e.firstFace].facing != obj.polygons[e.secondFace].facing)
            drawn.push_back(i);
    }
    return drawn;
}
