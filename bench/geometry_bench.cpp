// Time of the edge list, the texture-space surface maps (alpha, positions, normals), the
// texture-coordinate layout and the corner normals on generated meshes.
//
//   geometry_bench [--no-brute-force]
//
// Each mesh is a wavy grid surface whose texture coordinates form a shared-vertex grid over
// 0-1, two counter-clockwise triangles per quad, no overlap. For the 1k and 10k meshes the
// brute-force edge list and alpha map run on the same mesh in the same run, and the ratios
// are printed. The layout runs on the same grids (texture coordinates ignored) and on closed
// latitude-longitude spheres. Corner normals are computed for every corner of a 1M-triangle
// grid and of fans about one vertex (flat, and a steep cone whose faces pass some of each
// other's tests), beside the pairwise form where it takes seconds at most.

#include "core/console.h"
#include "bench/gridmesh.h"
#include "mesh/edgelist.h"
#include "mesh/normals.h"
#include "mesh/object.h"
#include "mesh/uvlayout.h"
#include "tests/reference/edgelist_reference.h"
#include "tests/reference/normals_reference.h"
#include "tests/reference/surfacemaps_reference.h"
#include "tests/testmeshes.h"
#include "texlight/surfacemaps.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<object> makeObject(const std::vector<polygon>& polys, int size)
{
    auto obj = std::make_unique<object>(size, size);
    obj->shadingPolygons = polys;
    obj->polygonCount = static_cast<int>(polys.size());
    return obj;
}

long numberAt(const object& obj, int x, int y)
{
    const polygon* p = obj.alphaMap[x][y];
    return p ? static_cast<long>(p - obj.shadingPolygons.data()) : -1;
}

// n triangles about the origin in a tilted plane, or with height a cone with its apex there.
std::vector<polygon> fan(int n, double height)
{
    const double pi = 3.14159265358979323846;
    const vector axis = normalised(vector(0.2, 1, 0.3));
    const vector u = normalised(cross(axis, vector(1, 0, 0))), v = cross(axis, u);
    auto rim = [&](int i) { return u * std::cos(2 * pi * i / n) + v * std::sin(2 * pi * i / n) - axis * height; };
    std::vector<polygon> polys(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        polygon& p = polys[static_cast<size_t>(i)];
        p.position[1] = rim(i);
        p.position[2] = rim(i + 1);
    }
    return polys;
}

double seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    {
        consoleCapture quiet;
        work();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    bool bruteForce = !(argc > 1 && std::strcmp(argv[1], "--no-brute-force") == 0);
    const int sides[] = {22, 71, 224}; // 968, 10,082 and 100,352 triangles
    const int sizes[] = {256, 1024};

    say("Edge list\n%9s %9s %11s %7s %s\n", "triangles", "edges s", "brute s", "ratio", "same");
    for (int side : {22, 71, 224, 708}) {
        std::vector<polygon> polys = gridSurface(side);
        for (polygon& p : polys)
            p.faceNormal = normalised(cross(p.position[1] - p.position[0], p.position[2] - p.position[0]));
        object fast(0, 0);
        fast.polygons = polys;
        fast.polygonCount = static_cast<int>(polys.size());
        double edges = seconds([&] { buildEdgeList(&fast); });
        if (bruteForce && polys.size() <= 20000) {
            object slow(0, 0);
            slow.polygons = polys;
            slow.polygonCount = fast.polygonCount;
            double brute = seconds([&] { referenceBuildEdgeList(&slow); });
            bool same = slow.edgeCount == fast.edgeCount;
            for (int i = 0; same && i < fast.edgeCount; ++i)
                same = fast.edges[i].secondFace == slow.edges[i].secondFace && fast.edges[i].sharp == slow.edges[i].sharp;
            say("%9zu %9.3f %11.3f %7.0f %s\n", polys.size(), edges, brute, brute / edges, same ? "yes" : "NO");
        } else {
            say("%9zu %9.3f %11s %7s %s\n", polys.size(), edges, "-", "-", "-");
        }
    }

    say("\nSurface maps\n%9s %6s %9s %9s %9s %9s %11s %7s %s\n", "triangles", "map", "alpha s", "posit. s", "normal s", "total s",
        "brute a. s", "ratio", "same");
    for (int side : sides) {
        std::vector<polygon> polys = gridSurface(side);
        for (int size : sizes) {
            auto obj = makeObject(polys, size);
            double alpha = seconds([&] { generateAlphaMap(obj.get()); });
            double positions = seconds([&] { generatePositionsMap(obj.get()); });
            double normals = seconds([&] { generateNormalsMap(obj.get()); });
            double total = alpha + positions + normals;
            if (bruteForce && polys.size() <= 20000) {
                auto slow = makeObject(polys, size);
                double brute = seconds([&] { referenceGenerateAlphaMap(slow.get()); });
                bool same = true;
                for (int x = 0; x < size && same; ++x)
                    for (int y = 0; y < size && same; ++y)
                        same = numberAt(*obj, x, y) == numberAt(*slow, x, y);
                say("%9zu %6d %9.3f %9.3f %9.3f %9.3f %11.3f %7.0f %s\n", polys.size(), size, alpha, positions, normals,
                    total, brute, brute / alpha, same ? "yes" : "NO");
            } else {
                say("%9zu %6d %9.3f %9.3f %9.3f %9.3f %11s %7s %s\n", polys.size(), size, alpha, positions, normals,
                    total, "-", "-", "-");
            }
        }
    }

    say("\nUV layout (map 1024 x 1024)\n%-7s %9s %7s %9s\n", "mesh", "triangles", "charts", "layout s");
    struct layoutMesh {
        const char* name;
        std::vector<polygon> polys;
    };
    const layoutMesh layoutMeshes[] = {
        {"grid", gridSurface(71)},
        {"grid", gridSurface(224)},
        {"sphere", testmeshes::sphere(vector(0, 0, 0), 1, 100, 51)},   // 10,000 triangles
        {"sphere", testmeshes::sphere(vector(0, 0, 0), 1, 316, 159)}, // 99,856 triangles
    };
    for (const layoutMesh& m : layoutMeshes) {
        object obj(0, 0);
        obj.polygons = m.polys;
        obj.polygonCount = static_cast<int>(m.polys.size());
        int charts = 0;
        double best = INFINITY;
        for (int run = 0; run < 3; ++run)
            best = std::min(best, seconds([&] { charts = generateUvLayout(obj, 1024, 1024); }));
        say("%-7s %9zu %7d %9.3f\n", m.name, m.polys.size(), charts, best);
    }

    say("\nCorner normals\n%-6s %9s %9s %11s %7s %s\n", "mesh", "triangles", "normals s", "pairwise s", "ratio", "same");
    struct normalsMesh {
        const char* name;
        std::vector<polygon> polys;
        bool pairwise;
    };
    const normalsMesh normalsMeshes[] = {
        {"grid", gridSurface(708), true}, // 1,002,528 triangles
        {"fan", fan(5000, 0), true},
        {"fan", fan(50000, 0), false},
        {"cone", fan(5000, 3), true},
        {"cone", fan(50000, 3), false},
    };
    for (const normalsMesh& m : normalsMeshes) {
        object fast(0, 0);
        fast.polygons = m.polys;
        for (polygon& p : fast.polygons)
            p.faceNormal = normalised(cross(p.position[1] - p.position[0], p.position[2] - p.position[0]));
        const std::vector<uint8_t> every(m.polys.size(), 7);
        double best = INFINITY;
        for (int run = 0; run < 3; ++run)
            best = std::min(best, seconds([&] { computeCornerNormals(fast, every); }));
        if (bruteForce && m.pairwise) {
            object slow(0, 0);
            slow.polygons = fast.polygons;
            double brute = seconds([&] { referenceComputeCornerNormals(slow, every); });
            bool same = true;
            for (size_t i = 0; same && i < m.polys.size(); ++i)
                for (int k = 0; k < 3; ++k) {
                    const vector& a = fast.polygons[i].normal[k];
                    const vector& b = slow.polygons[i].normal[k];
                    const double x[3] = {a.x, a.y, a.z}, y[3] = {b.x, b.y, b.z};
                    same = same && std::memcmp(x, y, sizeof x) == 0;
                }
            say("%-6s %9zu %9.3f %11.3f %7.0f %s\n", m.name, m.polys.size(), best, brute, brute / best, same ? "yes" : "NO");
        } else {
            say("%-6s %9zu %9.3f %11s %7s %s\n", m.name, m.polys.size(), best, "-", "-", "-");
        }
    }
    return 0;
}
