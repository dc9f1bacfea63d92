#pragma once

#include "core/console.h"
#include "mesh/edgelist.h"
#include "mesh/object.h"

#include <cmath>
#include <memory>
#include <vector>

// Small meshes built in code for the shadow and outline tests, with their edge lists.
namespace testmeshes {

inline polygon triangle(vector a, vector b, vector c, vector n = vector(0, 0, 0))
{
    polygon p;
    p.position[0] = a;
    p.position[1] = b;
    p.position[2] = c;
    p.faceNormal = normalised(cross(b - a, c - a));
    for (vector& corner : p.normal)
        corner = (n.x == 0 && n.y == 0 && n.z == 0) ? p.faceNormal : n;
    return p;
}

// An object of the given polygons with its edge list built (the report is swallowed).
inline std::unique_ptr<object> withEdges(std::vector<polygon> polys)
{
    auto obj = std::make_unique<object>(0, 0);
    obj->polygons = std::move(polys);
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    consoleCapture quiet;
    buildEdgeList(obj.get());
    return obj;
}

// The axis-aligned box [lo, hi], two outward-facing triangles per side.
inline std::vector<polygon> box(vector lo, vector hi)
{
    vector c[8];
    for (int i = 0; i < 8; ++i)
        c[i] = vector(i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z);
    const int sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<polygon> polys;
    for (const auto& s : sides) {
        polys.push_back(triangle(c[s[0]], c[s[1]], c[s[2]]));
        polys.push_back(triangle(c[s[0]], c[s[2]], c[s[3]]));
    }
    return polys;
}

// A closed latitude-longitude sphere with outward winding and outward corner normals; fine
// enough that no edge is sharp.
inline std::vector<polygon> sphere(vector centre, double radius, int segments = 24, int stacks = 12)
{
    const double pi = 3.14159265358979323846;
    auto point = [&](int stack, int segment) {
        if (stack == 0)
            return centre + vector(0, radius, 0);
        if (stack == stacks)
            return centre + vector(0, -radius, 0);
        double theta = pi * stack / stacks;
        double phi = 2 * pi * (segment % segments) / segments;
        return centre + vector(radius * std::sin(theta) * std::cos(phi), radius * std::cos(theta),
                               -radius * std::sin(theta) * std::sin(phi));
    };
    auto tri = [&](vector a, vector b, vector c) {
        polygon p = triangle(a, b, c);
        p.normal[0] = (a - centre) / radius;
        p.normal[1] = (b - centre) / radius;
        p.normal[2] = (c - centre) / radius;
        return p;
    };
    std::vector<polygon> polys;
    for (int st = 0; st < stacks; ++st)
        for (int sg = 0; sg < segments; ++sg) {
            vector a = point(st, sg), b = point(st + 1, sg), c = point(st + 1, sg + 1),
                   d = point(st, sg + 1);
            if (st != 0)
                polys.push_back(tri(a, b, d));
            if (st != stacks - 1)
                polys.push_back(tri(d, b, c));
        }
    return polys;
}

} // namespace testmeshes
