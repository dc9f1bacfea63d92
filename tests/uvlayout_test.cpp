#include "mesh/uvlayout.h"

#include "core/console.h"
#include "mesh/object.h"
#include "mesh/uvrepair.h"
#include "tests/testdata.h"
#include "tests/testmeshes.h"
#include "texlight/surfacemaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;

std::vector<polygon> torus(vector centre, double big, double small, int around, int tube)
{
    auto point = [&](int i, int j) {
        double a = 2 * pi * (i % around) / around, b = 2 * pi * (j % tube) / tube;
        return centre + vector((big + small * std::cos(b)) * std::cos(a), small * std::sin(b),
                               -(big + small * std::cos(b)) * std::sin(a));
    };
    std::vector<polygon> polys;
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            polys.push_back(testmeshes::triangle(point(i, j), point(i + 1, j), point(i + 1, j + 1)));
            polys.push_back(testmeshes::triangle(point(i, j), point(i + 1, j + 1), point(i, j + 1)));
        }
    return polys;
}

// A ramp winding one and a half times round the y axis: every normal points nearly up, so only
// the overlap of its turns in any flattening splits it.
std::vector<polygon> helicalRamp()
{
    const int steps = 72, across = 4;
    auto point = [&](int i, int j) {
        double a = 3 * pi * i / steps, r = 1 + double(j) / across;
        return vector(r * std::cos(a), 0.2 * a / pi, -r * std::sin(a));
    };
    std::vector<polygon> polys;
    for (int i = 0; i < steps; ++i)
        for (int j = 0; j < across; ++j) {
            polys.push_back(testmeshes::triangle(point(i, j), point(i, j + 1), point(i + 1, j + 1)));
            polys.push_back(testmeshes::triangle(point(i, j), point(i + 1, j + 1), point(i + 1, j)));
        }
    return polys;
}

std::unique_ptr<object> meshObject(std::vector<polygon> polys, int width, int height)
{
    auto obj = std::make_unique<object>(width, height);
    obj->polygons = std::move(polys);
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    return obj;
}

double worldArea(const polygon& p)
{
    vector c = cross(p.position[1] - p.position[0], p.position[2] - p.position[0]);
    return 0.5 * std::sqrt(dot(c, c));
}

// Twice the signed area in texels.
double texelArea2(const polygon& p, int w, int h)
{
    const vector* t = p.texCoord;
    return ((t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[1].y - t[0].y) * (t[2].x - t[0].x)) * w * h;
}

bool hasSurface(const polygon& p) { return worldArea(p) > 0 && std::isfinite(worldArea(p)); }

// The rows (alongY) or columns of a size-wide grid that a texture triangle's box reaches, one
// more on either side.
std::pair<int, int> reach(const vector* t, bool alongY, int size)
{
    double lo = INFINITY, hi = -INFINITY;
    for (int k = 0; k < 3; ++k) {
        lo = std::min(lo, alongY ? t[k].y : t[k].x);
        hi = std::max(hi, alongY ? t[k].y : t[k].x);
    }
    return {std::max(0, static_cast<int>(lo * size) - 1), std::min(size - 1, static_cast<int>(hi * size) + 1)};
}

// Charts as seen in texture space: faces joined by an edge with the same two texture points.
std::vector<int> chartsInTextureSpace(const object& obj)
{
    std::vector<int> parent(obj.polygons.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int i) { while (parent[i] != i) i = parent[i] = parent[parent[i]]; return i; };
    std::map<std::vector<double>, int> edges;
    for (size_t f = 0; f < obj.polygons.size(); ++f)
        for (int k = 0; k < 3; ++k) {
            vector a = obj.polygons[f].texCoord[k], b = obj.polygons[f].texCoord[(k + 1) % 3];
            if (std::make_pair(b.x, b.y) < std::make_pair(a.x, a.y))
                std::swap(a, b);
            auto found = edges.emplace(std::vector<double>{a.x, a.y, b.x, b.y}, static_cast<int>(f));
            parent[root(static_cast<int>(f))] = root(found.first->second);
        }
    std::vector<int> chart(obj.polygons.size());
    for (size_t f = 0; f < chart.size(); ++f)
        chart[f] = root(static_cast<int>(f));
    return chart;
}

// Every property a layout promises, checked on the laid-out object against its map size. Maps
// too small for the gutters skip the texel checks.
void expectSoundLayout(const object& obj, int charts, int w, int h, bool texels = true)
{
    const size_t n = obj.polygons.size();
    ASSERT_EQ(obj.uvCount, static_cast<int>(obj.uvs.size()));
    for (const polygon& p : obj.polygons) {
        for (const vector& t : p.texCoord) {
            ASSERT_TRUE(t.x >= 0 && t.x <= 1 && t.y >= 0 && t.y <= 1 && t.z == 0) << t.x << " " << t.y;
        }
        vector e = cross(p.texCoord[1] - p.texCoord[0], p.texCoord[2] - p.texCoord[0]);
        ASSERT_GT(e.z, 0) << "clockwise or flat texture triangle";
    }
    const std::vector<int> chart = chartsInTextureSpace(obj);
    std::vector<int> roots = chart;
    std::sort(roots.begin(), roots.end());
    EXPECT_EQ(std::unique(roots.begin(), roots.end()) - roots.begin(), charts);

    // No two faces share a sample point strictly inside both (fine samples, off the lattice).
    const int fine = 1024;
    std::vector<int> hits(static_cast<size_t>(fine) * fine, -1);
    for (size_t f = 0; f < n; ++f) {
        if (!hasSurface(obj.polygons[f]))
            continue; // checked below to hold no texel
        const vector* t = obj.polygons[f].texCoord;
        const auto [x0, x1] = reach(t, false, fine);
        const auto [y0, y1] = reach(t, true, fine);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                vector s((x + 0.3183) / fine, (y + 0.2718) / fine, 0);
                bool inside = true;
                for (int k = 0; k < 3; ++k)
                    inside = inside && cross(t[(k + 1) % 3] - t[k], s - t[k]).z > 0;
                if (!inside)
                    continue;
                int& owner = hits[static_cast<size_t>(y) * fine + x];
                ASSERT_EQ(owner, -1) << "faces " << owner << " and " << f << " overlap";
                owner = static_cast<int>(f);
            }
    }

    // Texels as the rasteriser takes them (centre or corner inside): one chart each, and no
    // texel of another chart within two texels.
    std::vector<int> owner(static_cast<size_t>(w) * h, -1);
    for (size_t f = 0; texels && f < n; ++f) {
        const vector* t = obj.polygons[f].texCoord;
        const auto [x0, x1] = reach(t, false, w);
        const auto [y0, y1] = reach(t, true, h);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (pointInTriangle(vector((x + 0.5) / w, (y + 0.5) / h, 0), t[0], t[1], t[2]) ||
                    pointInTriangle(vector(double(x) / w, double(y) / h, 0), t[0], t[1], t[2])) {
                    ASSERT_TRUE(hasSurface(obj.polygons[f])) << "a face without surface holds a texel";
                    int& o = owner[static_cast<size_t>(y) * w + x];
                    ASSERT_TRUE(o == -1 || o == chart[f]) << "texel " << x << "," << y << " in two charts";
                    o = chart[f];
                }
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int o = owner[static_cast<size_t>(y) * w + x];
            if (o < 0)
                continue;
            EXPECT_TRUE(x >= 2 && y >= 2 && x < w - 2 && y < h - 2) << "texel " << x << "," << y << " by the border";
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h) {
                        int other = owner[static_cast<size_t>(ny) * w + nx];
                        ASSERT_TRUE(other < 0 || other == o) << "no gutter at texel " << x << "," << y;
                    }
                }
        }

    // Texels per unit of world area, chart by chart.
    std::map<int, std::pair<double, double>> areas; // chart: world, texels
    for (size_t f = 0; f < n; ++f)
        if (hasSurface(obj.polygons[f])) {
            areas[chart[f]].first += worldArea(obj.polygons[f]);
            areas[chart[f]].second += 0.5 * texelArea2(obj.polygons[f], w, h);
        }
    double least = INFINITY, most = 0;
    for (const auto& a : areas) {
        least = std::min(least, a.second.second / a.second.first);
        most = std::max(most, a.second.second / a.second.first);
    }
    EXPECT_LE(most, 2 * least);
}

struct meshCase {
    const char* name;
    std::vector<polygon> polys;
    int width, height;
    int leastCharts, mostCharts;
};

} // namespace

TEST(uvLayout, closedAndFarMeshesGetSoundLayouts)
{
    const vector far(1.0e6, -2.5e6, 3.0e6);
    const meshCase cases[] = {
        {"sphere", testmeshes::sphere(vector(0, 0, 0), 1, 24, 12), 256, 256, 4, 552 / 5},
        {"torus", torus(vector(0, 0, 0), 2, 0.6, 32, 16), 256, 256, 4, 1024 / 5},
        {"helical ramp", helicalRamp(), 256, 256, 2, 8},
        {"cube", testmeshes::box(vector(-1, -1, -1), vector(1, 1, 1)), 64, 64, 6, 6},
        {"sphere far away, radius 1000", testmeshes::sphere(far, 1000, 24, 12), 256, 256, 4, 552 / 5},
        {"torus on a wide map", torus(vector(0, 0, 0), 2, 0.6, 32, 16), 512, 64, 4, 1024 / 5},
        {"sphere on a tall map", testmeshes::sphere(vector(0, 0, 0), 1, 24, 12), 64, 256, 4, 552 / 5},
    };
    for (const meshCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto obj = meshObject(c.polys, c.width, c.height);
        int charts = generateUvLayout(*obj, c.width, c.height);
        EXPECT_GE(charts, c.leastCharts);
        EXPECT_LE(charts, c.mostCharts);
        expectSoundLayout(*obj, charts, c.width, c.height);
    }
}

TEST(uvLayout, cubeSidesAreSixEqualSquares)
{
    auto obj = meshObject(testmeshes::box(vector(-1, -1, -1), vector(1, 1, 1)), 64, 64);
    ASSERT_EQ(generateUvLayout(*obj, 64, 64), 6);
    for (size_t side = 0; side < 6; ++side) {
        const polygon& a = obj->polygons[2 * side];
        const polygon& b = obj->polygons[2 * side + 1];
        EXPECT_NEAR(texelArea2(a, 64, 64) + texelArea2(b, 64, 64), texelArea2(obj->polygons[0], 64, 64) * 2, 1e-6);
        // The two halves of a side meet along their diagonal (corners 0 and 2 of the first).
        EXPECT_EQ(a.texCoord[0], b.texCoord[0]);
        EXPECT_EQ(a.texCoord[2], b.texCoord[1]);
    }
}

TEST(uvLayout, nothingToLayOutLeavesTheObjectAlone)
{
    auto empty = meshObject({}, 64, 64);
    EXPECT_EQ(generateUvLayout(*empty, 64, 64), 0);
    EXPECT_TRUE(empty->uvs.empty());
    auto noMap = meshObject(testmeshes::box(vector(0, 0, 0), vector(1, 1, 1)), 0, 0);
    EXPECT_EQ(generateUvLayout(*noMap, 0, 64), 0);
    EXPECT_EQ(generateUvLayout(*noMap, 64, -1), 0);
    EXPECT_EQ(noMap->uvCount, 0);
    EXPECT_EQ(noMap->polygons[3].texCoord[1], vector(0, 0, 0));
}

TEST(uvLayout, degenerateAndDuplicateFacesDoNoHarm)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = INFINITY;
    std::vector<polygon> polys = testmeshes::sphere(vector(0, 0, 0), 1, 16, 8);
    const size_t real = polys.size();
    for (size_t i = 0; i < 6; ++i)
        polys.push_back(polys[i]); // exact duplicates
    polygon reversed = polys[20];
    std::swap(reversed.position[1], reversed.position[2]);
    polys.push_back(reversed);
    const vector o(0, 0, 0), x(1, 0, 0);
    const vector bad[][3] = {{o, o, o}, {o, x, x * 2}, {x, x, o}, {vector(nan, 0, 0), x, vector(0, 1, 0)},
                             {vector(inf, 0, 0), x, vector(0, 1, 0)}, {vector(1e300, 0, 0), x, vector(0, -1e300, 0)}};
    for (const auto& b : bad)
        polys.push_back(testmeshes::triangle(b[0], b[1], b[2]));
    auto obj = meshObject(polys, 128, 128);
    int charts = generateUvLayout(*obj, 128, 128);
    EXPECT_GT(charts, 0);
    expectSoundLayout(*obj, charts, 128, 128);
    EXPECT_NE(obj->polygons[real].texCoord[0], obj->polygons[0].texCoord[0]); // a duplicate is moved off

    // A map too small for the gutters still gets coordinates in 0-1, counter-clockwise.
    auto tiny = meshObject(polys, 4, 4);
    int tinyCharts = generateUvLayout(*tiny, 4, 4);
    EXPECT_GT(tinyCharts, 0);
    expectSoundLayout(*tiny, tinyCharts, 4, 4, false);
}

TEST(uvLayout, sameMeshSameBytes)
{
    std::vector<polygon> polys = torus(vector(3, 1, -2), 2, 0.6, 40, 20);
    auto first = meshObject(polys, 256, 128), second = meshObject(polys, 256, 128);
    EXPECT_EQ(generateUvLayout(*first, 256, 128), generateUvLayout(*second, 256, 128));
    ASSERT_EQ(first->uvs.size(), second->uvs.size());
    for (size_t i = 0; i < first->uvs.size(); ++i) {
        const vector &a = first->uvs[i], &b = second->uvs[i];
        EXPECT_EQ(0, std::memcmp(&a.x, &b.x, sizeof a.x) | std::memcmp(&a.y, &b.y, sizeof a.y) |
                         std::memcmp(&a.z, &b.z, sizeof a.z));
    }
    EXPECT_EQ(first->uvs[3 * 7 + 2], first->polygons[7].texCoord[2]);
}

// Through the preparation steps and the real rasteriser: every covered texel lies on the
// closed surface and faces outwards, so none is left dark by the layout.
TEST(uvLayout, rasterisedTexelsLieOnTheSurfaceAndFaceOutwards)
{
    const vector centre(0.5, -1, 2);
    struct surfaceCase {
        const char* name;
        std::vector<polygon> polys;
        double facing; // least cosine between a texel's normal and the analytic one
    } cases[] = {{"sphere", testmeshes::sphere(centre, 2, 24, 12), 0.98},
                 {"torus", torus(centre, 2, 0.6, 32, 16), 0.9}}; // flat faces; border texels reach past them
    for (surfaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool sphere = std::string(c.name) == "sphere";
        // The nearest point of the analytic surface's core: the centre, or the torus's ring.
        auto core = [&](vector p) {
            if (sphere)
                return centre;
            vector flat(p.x - centre.x, 0, p.z - centre.z);
            return centre + flat * (2 / std::sqrt(dot(flat, flat)));
        };
        const double radius = sphere ? 2 : 0.6;
        auto obj = meshObject(std::move(c.polys), 128, 128);
        ASSERT_GT(generateUvLayout(*obj, 128, 128), 0);
        consoleCapture quiet;
        checkUvWinding(obj.get());
        normaliseUvs(obj.get());
        ASSERT_EQ(obj->shadingPolygons.size(), obj->polygons.size());
        for (size_t f = 0; f < obj->polygons.size(); ++f)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(obj->shadingPolygons[f].texCoord[k], obj->polygons[f].texCoord[k]) << "the layout was stretched";
        // Only the covering half: gap filling deliberately extends polygons past their triangles.
        rasteriseAlphaMap(obj.get(), alphaTestPoints::centreThenCorner);
        generatePositionsMap(obj.get());
        generateNormalsMap(obj.get());
        int covered = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                if (!obj->alphaMap[x][y])
                    continue;
                ++covered;
                const vector p = obj->positionsMap[y][x];
                vector radial = p - core(p);
                double distance = std::sqrt(dot(radial, radial));
                ASSERT_NEAR(distance, radius, 0.04) << "texel " << x << "," << y;
                vector n = obj->normalsMap[y][x];
                ASSERT_GT(dot(n, radial / distance), c.facing) << "texel " << x << "," << y;
            }
        EXPECT_GT(covered, 128 * 128 / 4);
    }
}

TEST(uvLayout, sharedMeshLaysOutWithoutOverlap)
{
    REQUIRE_TESTDATA();
    std::unique_ptr<object> spot;
    {
        consoleCapture quiet;
        spot = loadObject(std::string(TESTDATA_DIR) + "/meshes/spot.obj", 256, 256);
    }
    ASSERT_TRUE(spot);
    int charts = generateUvLayout(*spot, 256, 256);
    EXPECT_GT(charts, 0);
    EXPECT_LT(charts, spot->polygonCount / 5);
    expectSoundLayout(*spot, charts, 256, 256);
}
