#include "texlight/surfacemaps.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "core/progress.h"
#include "mesh/object.h"
#include "tests/reference/surfacemaps_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const alphaTestPoints centreFirst = alphaTestPoints::centreThenCorner;
const alphaTestPoints cornerFirst = alphaTestPoints::cornerThenBack;

polygon tri(double u0, double v0, double u1, double v1, double u2, double v2)
{
    polygon p;
    p.texCoord[0] = vector(u0, v0, 0);
    p.texCoord[1] = vector(u1, v1, 0);
    p.texCoord[2] = vector(u2, v2, 0);
    for (int k = 0; k < 3; ++k) {
        p.position[k] = vector(p.texCoord[k].x * 2 - 1, 0.5, p.texCoord[k].y * 3);
        p.normal[k] = vector(0, 1, 0);
    }
    return p;
}

std::unique_ptr<object> makeObject(int w, int h, const std::vector<polygon>& polys)
{
    auto obj = std::make_unique<object>(w, h);
    obj->shadingPolygons = polys;
    obj->polygonCount = static_cast<int>(polys.size());
    return obj;
}

// Rows y = 0 upwards, '#' for a covered texel.
std::vector<std::string> picture(const object& obj)
{
    int w = obj.finalBitmap->width, h = obj.finalBitmap->height;
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x)
            row += obj.alphaMap[x][y] ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

// The polygon number of every texel, -1 where none; fails on a pointer outside the polygons.
std::vector<long> polygonNumbers(const object& obj)
{
    int w = obj.finalBitmap->width, h = obj.finalBitmap->height;
    std::vector<long> numbers;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const polygon* p = obj.alphaMap[x][y];
            long i = p ? static_cast<long>(p - obj.shadingPolygons.data()) : -1;
            EXPECT_TRUE(i >= -1 && i < obj.polygonCount);
            numbers.push_back(i);
        }
    return numbers;
}

// The percentages of a run of progress lines with the given title; fails on anything else.
std::vector<int> progressValues(const std::string& text, const std::string& title)
{
    std::vector<int> values;
    size_t at = 0;
    while (at < text.size() && text[at] != '\n') {
        EXPECT_EQ(text.compare(at, title.size(), title), 0) << text.substr(at, 40);
        at += title.size();
        size_t percent = text.find("%\r", at);
        if (percent == std::string::npos) {
            ADD_FAILURE() << "unterminated progress line";
            break;
        }
        values.push_back(std::atoi(text.substr(at, percent - at).c_str()));
        at = percent + 2;
    }
    EXPECT_EQ(text.substr(at), "\n");
    return values;
}

// Runs the fast and the brute-force alpha map on copies of one mesh and compares the polygon
// of every texel before and after gap filling, and the console output.
void expectSameAsBruteForce(const std::vector<polygon>& polys, int w, int h, alphaTestPoints points,
                            const std::string& what)
{
    SCOPED_TRACE(what + " " + std::to_string(w) + "x" + std::to_string(h) +
                 (points == centreFirst ? " centre first" : " corner first"));
    auto fast = makeObject(w, h, polys);
    auto slow = makeObject(w, h, polys);
    std::string fastText, slowText;
    {
        consoleCapture capture;
        rasteriseAlphaMap(fast.get(), points);
        fastText = capture.text();
    }
    {
        consoleCapture capture;
        referenceRasteriseAlphaMap(slow.get(), points);
        slowText = capture.text();
    }
    EXPECT_EQ(fastText, slowText);
    std::vector<long> fastNumbers = polygonNumbers(*fast), slowNumbers = polygonNumbers(*slow);
    ASSERT_EQ(fastNumbers.size(), slowNumbers.size());
    int differences = 0;
    for (size_t i = 0; i < fastNumbers.size(); ++i)
        if (fastNumbers[i] != slowNumbers[i] && ++differences <= 5)
            ADD_FAILURE() << "texel (" << i % w << ", " << i / w << "): fast " << fastNumbers[i]
                          << ", brute force " << slowNumbers[i];
    EXPECT_EQ(differences, 0);

    fillAlphaMapGaps(fast.get());
    referenceFillAlphaMapGaps(slow.get());
    EXPECT_EQ(polygonNumbers(*fast), polygonNumbers(*slow));
}

const int mapSizes[][2] = {{1, 1}, {1, 5}, {5, 1}, {2, 3}, {8, 8}, {16, 9}, {13, 31}, {64, 64}};

void expectSameForAllSizes(const std::vector<polygon>& polys, const std::string& what)
{
    for (const auto& size : mapSizes)
        for (alphaTestPoints points : {centreFirst, cornerFirst})
            expectSameAsBruteForce(polys, size[0], size[1], points, what);
}

double uniform(std::mt19937& rng, double lo, double hi)
{
    return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
}

// Random triangles of mixed size anywhere around the unit square, either winding.
std::vector<polygon> randomTriangles(unsigned seed, int count)
{
    std::mt19937 rng(seed);
    std::vector<polygon> polys;
    for (int i = 0; i < count; ++i) {
        double size = (i % 3 == 0) ? uniform(rng, 0.3, 1.2) : uniform(rng, 0.01, 0.15);
        double cu = uniform(rng, -0.1, 1.1), cv = uniform(rng, -0.1, 1.1);
        polys.push_back(tri(cu + uniform(rng, -size, size), cv + uniform(rng, -size, size),
                            cu + uniform(rng, -size, size), cv + uniform(rng, -size, size),
                            cu + uniform(rng, -size, size), cv + uniform(rng, -size, size)));
    }
    return polys;
}

// Triangles whose corners are multiples of 1/(2w) and 1/(2h), so that texel centres and
// corners fall exactly on their edges and corners.
std::vector<polygon> snappedTriangles(unsigned seed, int count, int w, int h)
{
    std::mt19937 rng(seed);
    std::vector<polygon> polys;
    auto su = [&] { return static_cast<int>(rng() % (2 * w + 3)) / (2.0 * w) - 1.0 / (2 * w); };
    auto sv = [&] { return static_cast<int>(rng() % (2 * h + 3)) / (2.0 * h) - 1.0 / (2 * h); };
    for (int i = 0; i < count; ++i)
        polys.push_back(tri(su(), sv(), su(), sv(), su(), sv()));
    return polys;
}

// An n x m grid of quads over [lo, hi]^2, two counter-clockwise triangles each, sharing edges;
// the diagonal flips from quad to quad.
void appendGrid(std::vector<polygon>& polys, int n, int m, double lo, double hi)
{
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i) {
            double u0 = lo + (hi - lo) * i / n, u1 = lo + (hi - lo) * (i + 1) / n;
            double v0 = lo + (hi - lo) * j / m, v1 = lo + (hi - lo) * (j + 1) / m;
            if ((i + j) % 2 == 0) {
                polys.push_back(tri(u0, v0, u1, v0, u1, v1));
                polys.push_back(tri(u0, v0, u1, v1, u0, v1));
            } else {
                polys.push_back(tri(u0, v0, u1, v0, u0, v1));
                polys.push_back(tri(u1, v0, u1, v1, u0, v1));
            }
        }
}

// Triangles a hair off a line through texel corners of a w x h map, either winding. Rounding
// in the inside test lets many of them accept texel corners on that line far outside their
// bounding box.
std::vector<polygon> roundingSlivers(unsigned seed, int count, int w, int h)
{
    std::mt19937 rng(seed);
    std::vector<polygon> polys;
    while (static_cast<int>(polys.size()) < count) {
        int x0 = static_cast<int>(rng() % (w + 1)), y0 = static_cast<int>(rng() % (h + 1));
        int dx = static_cast<int>(rng() % 7) - 3, dy = static_cast<int>(rng() % 7) - 3;
        if (dx == 0 && dy == 0)
            continue;
        double ax = x0 / double(w), ay = y0 / double(h);
        double bx = (x0 + dx) / double(w), by = (y0 + dy) / double(h);
        double off = std::ldexp(1.0, -40 - static_cast<int>(rng() % 60));
        double s = (rng() % 1000) / 1000.0;
        double cx = ax + s * (bx - ax) - off * (by - ay), cy = ay + s * (by - ay) + off * (bx - ax);
        if (rng() % 2)
            polys.push_back(tri(ax, ay, bx, by, cx, cy));
        else
            polys.push_back(tri(ax, ay, cx, cy, bx, by));
    }
    return polys;
}

} // namespace

TEST(alphaMap, eightByEightTriangleBeforeAndAfterGapFilling)
{
    for (bool fast : {true, false}) {
        auto obj = makeObject(8, 8, {tri(0.25, 0.25, 0.75, 0.25, 0.25, 0.75)});
        consoleCapture capture;
        fast ? rasteriseAlphaMap(obj.get(), centreFirst) : referenceRasteriseAlphaMap(obj.get(), centreFirst);
        EXPECT_EQ(picture(*obj), (std::vector<std::string>{"........", "........", "..#####.", "..####..",
                                                            "..###...", "..##....", "..#.....", "........"}));
        fast ? fillAlphaMapGaps(obj.get()) : referenceFillAlphaMapGaps(obj.get());
        EXPECT_EQ(picture(*obj), (std::vector<std::string>{"........", "..#####.", ".######.", ".######.",
                                                            ".######.", ".######.", ".######.", "........"}));
    }
    auto obj = makeObject(8, 8, {tri(0.25, 0.25, 0.75, 0.25, 0.25, 0.75)});
    consoleCapture capture;
    generateAlphaMap(obj.get());
    EXPECT_EQ(picture(*obj)[1], "..#####.");
    EXPECT_EQ(obj->alphaMap[3][4], &obj->shadingPolygons[0]);
}

TEST(alphaMap, fourByFourHalfSquare)
{
    auto obj = makeObject(4, 4, {tri(0, 0, 1, 0, 0, 1)});
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), centreFirst);
    EXPECT_EQ(picture(*obj), (std::vector<std::string>{"####", "####", "###.", "##.."}));
    fillAlphaMapGaps(obj.get());
    EXPECT_EQ(picture(*obj), (std::vector<std::string>{"####", "####", "####", "###."}));
}

TEST(alphaMap, cornerFirstTestPoints)
{
    auto obj = makeObject(8, 8, {tri(0.25, 0.25, 0.75, 0.25, 0.25, 0.75)});
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), cornerFirst);
    // The corner (x, y)/8 or the point half a texel below and left of it.
    EXPECT_EQ(picture(*obj), (std::vector<std::string>{"........", "........", "..#####.", "..#####.",
                                                        "..####..", "..###...", "..##....", "........"}));
    // The point behind the corner reaches texels whose own corner is outside: (6, 3).
    auto centre = makeObject(8, 8, {tri(0.25, 0.25, 0.75, 0.25, 0.25, 0.75)});
    rasteriseAlphaMap(centre.get(), centreFirst);
    EXPECT_EQ(centre->alphaMap[6][3], nullptr);
    EXPECT_NE(obj->alphaMap[6][3], nullptr);
}

TEST(alphaMap, clockwiseTriangleCoversNothing)
{
    for (alphaTestPoints points : {centreFirst, cornerFirst}) {
        auto obj = makeObject(8, 8, {tri(0.25, 0.25, 0.25, 0.75, 0.75, 0.25), tri(0, 0, 0, 1, 1, 0)});
        consoleCapture capture;
        generateAlphaMap(obj.get(), points);
        for (const std::string& row : picture(*obj))
            EXPECT_EQ(row, "........");
    }
}

TEST(alphaMap, sharedEdgeGoesToLowerIndexUnlessCached)
{
    // The diagonal u = v is shared; texel centres (x + 0.5, x + 0.5) / 4 lie on it.
    auto obj = makeObject(4, 4, {tri(0, 0, 1, 0, 1, 1), tri(0, 0, 1, 1, 0, 1)});
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), centreFirst);
    polygon* lower = &obj->shadingPolygons[0];
    polygon* upper = &obj->shadingPolygons[1];
    // (0, 0) is the first texel: nothing cached, so the lower index wins.
    EXPECT_EQ(obj->alphaMap[0][0], lower);
    // Further up, the texel left of the diagonal cached the upper triangle, which holds it.
    for (int d = 1; d < 4; ++d)
        EXPECT_EQ(obj->alphaMap[d][d], upper) << d;
    EXPECT_EQ(obj->alphaMap[3][1], lower);
    EXPECT_EQ(obj->alphaMap[1][3], upper);
}

TEST(alphaMap, collinearTriangleClaimsTheWholeLine)
{
    // Corners on u = v: the inside test accepts every point of that line, far outside the
    // triangle's box.
    std::vector<polygon> polys = {tri(0.1, 0.1, 0.2, 0.2, 0.3, 0.3)};
    auto obj = makeObject(8, 8, polys);
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), centreFirst);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(obj->alphaMap[x][y] != nullptr, x == y) << x << ", " << y;
    expectSameForAllSizes(polys, "collinear");
    // Behind a covering triangle it still wins the texels where nothing is cached.
    polys.push_back(tri(-1, -1, 3, -1, -1, 3));
    expectSameForAllSizes(polys, "collinear under a cover");
    std::swap(polys[0], polys[1]);
    expectSameForAllSizes(polys, "collinear over a cover");
}

TEST(alphaMap, coincidentCornersClaimEverythingOnceCached)
{
    // Three equal corners: every side is 0, so every point is inside.
    std::vector<polygon> polys = {tri(0.1, 0.1, 0.4, 0.1, 0.1, 0.4), tri(0.9, 0.9, 0.9, 0.9, 0.9, 0.9),
                                  tri(0, 0, 1, 0, 0, 1)};
    auto obj = makeObject(8, 8, polys);
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), centreFirst);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const polygon* p = obj->alphaMap[x][y];
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(p == &obj->shadingPolygons[0] || p == &obj->shadingPolygons[1]) << x << ", " << y;
        }
    EXPECT_EQ(obj->alphaMap[7][7], &obj->shadingPolygons[1]);
    expectSameForAllSizes(polys, "coincident");
    // Two coincident corners: decided by the other two edges, which lie on one line.
    expectSameForAllSizes({tri(0.25, 0.25, 0.25, 0.25, 0.75, 0.5), tri(0.5, 0.125, 0.5, 0.875, 0.5, 0.875),
                           tri(0.2, 0.6, 0.8, 0.6, 0.2, 0.6)},
                          "two coincident corners");
}

TEST(alphaMap, sameAsBruteForceOnRandomTriangles)
{
    for (unsigned seed : {1u, 2u, 3u})
        expectSameForAllSizes(randomTriangles(seed, 40 + 30 * static_cast<int>(seed)), "random " + std::to_string(seed));
}

TEST(alphaMap, sameAsBruteForceWithTexelPointsOnEdges)
{
    for (const auto& size : mapSizes)
        for (alphaTestPoints points : {centreFirst, cornerFirst})
            for (unsigned seed : {11u, 12u})
                expectSameAsBruteForce(snappedTriangles(seed, 60, size[0], size[1]), size[0], size[1], points,
                                       "snapped " + std::to_string(seed));
}

TEST(alphaMap, sameAsBruteForceOnGridsSeamsAndFans)
{
    std::vector<polygon> grid;
    appendGrid(grid, 8, 8, 0, 1);
    expectSameForAllSizes(grid, "grid");

    // A finer grid slightly beyond 0-1, with lines that are not multiples of the texel size.
    std::vector<polygon> wide;
    appendGrid(wide, 7, 5, -0.03, 1.02);
    expectSameForAllSizes(wide, "wide grid");

    // Seams: part of the grid again with the same coordinates, at higher indices; and the
    // same quad cut along the other diagonal.
    std::vector<polygon> seams = grid;
    for (size_t i = 0; i < 40; ++i)
        seams.push_back(grid[i * 3 % grid.size()]);
    seams.push_back(tri(0, 0, 0.125, 0.125, 0, 0.125));
    seams.push_back(tri(0, 0, 0.125, 0, 0.125, 0.125));
    std::vector<polygon> reversed(seams.rbegin(), seams.rend());
    expectSameForAllSizes(seams, "seams");
    expectSameForAllSizes(reversed, "seams reversed");

    // Non-manifold fans: many triangles on one edge, on both sides, overlapping.
    std::vector<polygon> fans;
    for (int k = 0; k < 12; ++k) {
        double t = (k + 1) / 13.0;
        fans.push_back(tri(0.25, 0.25, 0.75, 0.75, 0.25 - t * 0.2, 0.25 + t * 0.7));
        fans.push_back(tri(0.75, 0.75, 0.25, 0.25, 0.75 + t * 0.2, 0.75 - t * 0.7));
        fans.push_back(tri(0.5, 0.5, 0.5 + 0.4 * std::cos(k), 0.5 + 0.4 * std::sin(k), 0.5 + 0.4 * std::cos(k + 0.5),
                           0.5 + 0.4 * std::sin(k + 0.5)));
    }
    expectSameForAllSizes(fans, "fans");
}

TEST(alphaMap, sameAsBruteForceOnDegenerateAndSliverTriangles)
{
    std::vector<polygon> polys;
    // Collinear along lattice lines of an 8 x 8 and a 16 x 9 map, either way round.
    for (double c : {0.0, 0.125, 0.5, 0.5625, 1.0}) {
        polys.push_back(tri(0.1, c, 0.3, c, 0.6, c));
        polys.push_back(tri(0.6, c, 0.3, c, 0.1, c));
        polys.push_back(tri(c, 0.7, c, 0.2, c, 0.4));
        polys.push_back(tri(0.2, 0.2 + c / 4, 0.4, 0.4 + c / 4, 0.3, 0.3 + c / 4));
    }
    polys.push_back(tri(1.0 / 9, 1.0 / 9, 2.0 / 9, 2.0 / 9, 4.0 / 9, 4.0 / 9));
    // Coincident corners, two or three, on lattice points and off them.
    polys.push_back(tri(0.375, 0.375, 0.375, 0.375, 0.375, 0.375));
    polys.push_back(tri(0.3, 0.7, 0.3, 0.7, 0.3, 0.7));
    polys.push_back(tri(0.25, 0.5, 0.25, 0.5, 0.75, 0.5));
    polys.push_back(tri(0.25, 0.5, 0.75, 0.5, 0.75, 0.5));
    // Slivers a hair off lattice lines, both windings; and tiny triangles.
    for (double off : {1e-17, 1e-16, 3e-16, 1e-14, 1e-12, 1e-9, 1e-6}) {
        polys.push_back(tri(0.0, 0.25, 1.0, 0.25 + off, 0.5, 0.25 + off / 3));
        polys.push_back(tri(0.0, 0.25, 0.5, 0.25 + off / 3, 1.0, 0.25 + off));
        polys.push_back(tri(0.0, 0.0, 1.0, 1.0, 0.5, 0.5 + off));
        polys.push_back(tri(0.0, 0.0, 0.5, 0.5 + off, 1.0, 1.0));
        polys.push_back(tri(0.5, 0.5, 0.5 + off, 0.5, 0.5, 0.5 + off));
        polys.push_back(tri(0.5, 0.5, 0.5, 0.5 + off, 0.5 + off, 0.5));
    }
    // Clockwise ones among them.
    polys.push_back(tri(0.1, 0.1, 0.1, 0.9, 0.9, 0.1));
    polys.push_back(tri(0.6, 0.6, 0.6, 0.65, 0.65, 0.6));
    expectSameForAllSizes(polys, "degenerate");
    std::mt19937 rng(7);
    for (int round = 0; round < 4; ++round) {
        std::vector<polygon> shuffled = polys;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::vector<polygon> mixed = randomTriangles(100 + round, 30);
        mixed.insert(mixed.begin() + round * 7, shuffled.begin(), shuffled.begin() + 20);
        expectSameForAllSizes(mixed, "degenerate mixed " + std::to_string(round));
    }
}

TEST(alphaMap, roundingSliversAcceptPointsOutsideTheirBox)
{
    // Found by search: corners not collinear (the area is 2e-19, counter-clockwise), yet the
    // rounded side values accept the texel corner (0.140625, 0.4375), far from the box.
    polygon sliver = tri(0.015625, 0.625, -0.015625, 0.671875, -0.013593750000000002, 0.668828125);
    EXPECT_TRUE(pointInTriangle(vector(0.140625, 0.4375, 0), sliver.texCoord[0], sliver.texCoord[1],
                                sliver.texCoord[2]));
    auto obj = makeObject(64, 64, {sliver});
    consoleCapture capture;
    rasteriseAlphaMap(obj.get(), cornerFirst);
    EXPECT_EQ(obj->alphaMap[9][28], &obj->shadingPolygons[0]);
    expectSameAsBruteForce({sliver}, 64, 64, cornerFirst, "one sliver");

    for (const auto& size : mapSizes)
        for (alphaTestPoints points : {centreFirst, cornerFirst})
            for (unsigned seed : {41u, 42u}) {
                std::vector<polygon> polys = roundingSlivers(seed, 80, size[0], size[1]);
                expectSameAsBruteForce(polys, size[0], size[1], points, "slivers " + std::to_string(seed));
                std::vector<polygon> grid;
                appendGrid(grid, 4, 4, 0, 1);
                polys.insert(polys.begin() + 40, grid.begin(), grid.end());
                expectSameAsBruteForce(polys, size[0], size[1], points, "slivers in a grid " + std::to_string(seed));
            }
}

TEST(alphaMap, sameAsBruteForceWithNonFiniteCoordinates)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<polygon> polys = randomTriangles(21, 20);
    polys.insert(polys.begin() + 5, tri(0.2, 0.2, inf, 0.3, 0.2, 0.5));
    polys.insert(polys.begin() + 9, tri(nan, 0.2, 0.3, 0.3, 0.2, 0.5));
    polys.insert(polys.begin() + 12, tri(0.2, 0.2, 1e300, 0.3, 0.2, 1e300));
    polys[3].texCoord[1].z = 1e300;
    polys[4].texCoord[2].z = 0.5;
    expectSameForAllSizes(polys, "non-finite");
}

TEST(alphaMap, indexAgreesWithLinearSearchAtRandomPoints)
{
    std::vector<polygon> polys = randomTriangles(31, 60);
    for (int i = 0; i < 10; ++i) {
        double c = i / 10.0;
        polys.insert(polys.begin() + i * 6, tri(c, 0.1, c + 0.1, 0.2, c + 0.3, 0.4)); // collinear
        polys.push_back(tri(0.0, c, 1.0, c + 1e-16, 0.5, c + 2e-17));                  // sliver
    }
    const double lo = -0.2, hi = 1.2;
    uvTriangleIndex index(polys.data(), static_cast<int>(polys.size()), lo, lo, hi, hi);
    EXPECT_GE(index.alwaysTriedCount(), 20);
    std::mt19937 rng(5);
    for (int n = 0; n < 20000; ++n) {
        vector p(uniform(rng, lo, hi), uniform(rng, lo, hi), 0);
        if (n % 4 == 0) {
            // On the line of a collinear triangle, far along it.
            double c = (n / 4 % 10) / 10.0, t = uniform(rng, -1, 1);
            p = vector(c + t, 0.1 + t, 0);
            if (p.x < lo || p.x > hi || p.y < lo || p.y > hi)
                continue;
        }
        int expected = -1;
        for (size_t i = 0; i < polys.size() && expected < 0; ++i)
            if (pointInTriangle(p, polys[i].texCoord[0], polys[i].texCoord[1], polys[i].texCoord[2]))
                expected = static_cast<int>(i);
        ASSERT_EQ(index.lowestContaining(p, static_cast<int>(polys.size())), expected) << p.x << ", " << p.y;
        if (expected > 0) {
            ASSERT_EQ(index.lowestContaining(p, expected), -1);
        }
    }
}

// The corner attribute at (u, v) by barycentric weights, computed independently of the
// pivot and the scanline order.
vector barycentric(const polygon& p, const vector* values, double u, double v)
{
    const vector* t = p.texCoord;
    double area = (t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[1].y - t[0].y) * (t[2].x - t[0].x);
    double b1 = ((u - t[0].x) * (t[2].y - t[0].y) - (v - t[0].y) * (t[2].x - t[0].x)) / area;
    double b2 = ((t[1].x - t[0].x) * (v - t[0].y) - (t[1].y - t[0].y) * (u - t[0].x)) / area;
    return values[0] * (1 - b1 - b2) + values[1] * b1 + values[2] * b2;
}

void expectNear(const vector& got, const vector& expected, double tolerance = 1e-9)
{
    EXPECT_NEAR(got.x, expected.x, tolerance);
    EXPECT_NEAR(got.y, expected.y, tolerance);
    EXPECT_NEAR(got.z, expected.z, tolerance);
    EXPECT_EQ(got.w, 1.0);
}

TEST(interpolateCorners, cornersAndPivotLevel)
{
    polygon p = tri(0.1, 0.2, 0.7, 0.3, 0.4, 0.9);
    p.position[0] = vector(1, 2, 3);
    p.position[1] = vector(-4, 5, 6);
    p.position[2] = vector(7, -8, 9.5);
    // B (corner 1) is the pivot: A and C give their own values exactly, and so does B, where
    // the span has no width.
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[0]), p.position[0]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[2]), p.position[2]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[1]), p.position[1]);
    // Elsewhere on the pivot's row, inside and beyond the triangle: the plane through the corners.
    for (double u : {0.9, 0.45, -3.0})
        expectNear(interpolateCorners(p, cornerAttribute::position, vector(u, 0.3, 0)),
                   barycentric(p, p.position, u, 0.3));
    // The normal instance reads the normals and nothing else.
    p.normal[0] = vector(0, 0, 1);
    p.normal[2] = vector(1, 0, 0);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::normal, p.texCoord[0]), p.normal[0]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::normal, p.texCoord[2]), p.normal[2]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::normal, p.texCoord[1]), p.normal[1]);
}

TEST(interpolateCorners, rotatedTriangleIsBarycentric)
{
    // Corners 0 and 1 share v, so the corners are turned once and corner 2 is the pivot.
    polygon p = tri(0.2, 0.2, 0.8, 0.2, 0.3, 0.9);
    p.position[0] = vector(1, 2, 3);
    p.position[1] = vector(-4, 5, 6);
    p.position[2] = vector(7, -8, 9.5);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[0]), p.position[0]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[1]), p.position[1]);
    EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, p.texCoord[2]), p.position[2]);
    expectNear(interpolateCorners(p, cornerAttribute::position, vector(0.5, 0.9, 0)),
               barycentric(p, p.position, 0.5, 0.9));
    std::mt19937 rng(3);
    for (int n = 0; n < 200; ++n) {
        // Inside and well outside the triangle: the edge lines are used unbounded.
        double u = uniform(rng, -0.5, 1.5), v = uniform(rng, -0.5, 1.5);
        expectNear(interpolateCorners(p, cornerAttribute::position, vector(u, v, 0)),
                   barycentric(p, p.position, u, v));
    }
}

TEST(interpolateCorners, degenerateTrianglesGiveZero)
{
    // All corners on one row, and a triangle of no area whose corners are not level.
    for (const polygon& p : {tri(0.1, 0.5, 0.7, 0.5, 0.4, 0.5), tri(0.1, 0.1, 0.4, 0.4, 0.7, 0.7)}) {
        EXPECT_EQ(interpolateCorners(p, cornerAttribute::position, vector(0.3, 0.5, 0)), vector(0, 0, 0));
        EXPECT_EQ(interpolateCorners(p, cornerAttribute::normal, vector(0.4, 0.4, 0)), vector(0, 0, 0));
    }
    // The maps meet such a polygon where a texel corner lies on its line.
    polygon p = tri(0.1, 0.5, 0.7, 0.5, 0.4, 0.5);
    p.position[0] = vector(1, 2, 3);
    auto obj = makeObject(4, 4, {p});
    consoleCapture capture;
    generateAlphaMap(obj.get(), cornerFirst);
    generatePositionsMap(obj.get());
    generateNormalsMap(obj.get());
    EXPECT_EQ(obj->alphaMap[1][2], &obj->shadingPolygons[0]);
    EXPECT_EQ(obj->positionsMap[2][1], vector(0, 0, 0));
    EXPECT_EQ(obj->normalsMap[2][1], vector(0, 0, 0));
}

TEST(surfaceMaps, gridOnTexelRowsHasNoDarkTexels)
{
    // Every grid vertex sits on a texel corner, so many texel rows are level with a pivot.
    std::vector<polygon> grid;
    appendGrid(grid, 4, 4, 0, 1);
    auto obj = makeObject(64, 64, grid);
    consoleCapture capture;
    generateAlphaMap(obj.get());
    generatePositionsMap(obj.get());
    generateNormalsMap(obj.get());
    int covered = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (!obj->alphaMap[x][y])
                continue;
            ++covered;
            ASSERT_EQ(obj->normalsMap[y][x], vector(0, 1, 0)) << x << ", " << y;
            // tri() places u, v at (2u - 1, 0.5, 3v).
            expectNear(obj->positionsMap[y][x], vector(2.0 * x / 64 - 1, 0.5, 3.0 * y / 64), 1e-12);
        }
    EXPECT_EQ(covered, 64 * 64);
    for (int j = 0; j <= 3; ++j)
        for (int i = 0; i <= 3; ++i)
            EXPECT_EQ(obj->positionsMap[16 * j][16 * i], vector(i / 2.0 - 1, 0.5, 0.75 * j));
}

TEST(surfaceMaps, progressOfEveryMapShapeEndsAtOneHundred)
{
    struct shape { int w, h; };
    for (shape s : {shape{64, 64}, shape{512, 256}, shape{128, 256}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        auto obj = makeObject(s.w, s.h, {tri(0, 0, 1, 0, 0, 1), tri(1, 0, 1, 1, 0, 1)});
        consoleCapture capture;
        generateAlphaMap(obj.get());
        std::string alpha = capture.text();
        capture.clear();
        generatePositionsMap(obj.get());
        std::string positions = capture.text();
        capture.clear();
        generateNormalsMap(obj.get());
        std::string normals = capture.text();

        const std::string titles[] = {"Generating Alpha Map: ", "Generating Positions Map: ",
                                      "Generating Normals Map: "};
        const std::string* texts[] = {&alpha, &positions, &normals};
        for (int k = 0; k < 3; ++k) {
            // One line per row whose percentage differs from the last row's.
            std::vector<int> values = progressValues(*texts[k], titles[k]);
            std::vector<int> rows;
            for (int y = 0; y < s.h; ++y)
                if (rows.empty() || rows.back() != (y + 1) * 100 / s.h)
                    rows.push_back((y + 1) * 100 / s.h);
            EXPECT_EQ(values, rows);
        }

        // The brute-force form prints the same.
        auto other = makeObject(s.w, s.h, {tri(0, 0, 1, 0, 0, 1), tri(1, 0, 1, 1, 0, 1)});
        capture.clear();
        referenceGenerateAlphaMap(other.get());
        EXPECT_EQ(capture.text(), alpha);
    }
}

TEST(surfaceMaps, progressStaysSaneWhenTheTotalPasses32Bits)
{
    // 256 x 256 x 40,000 = 2.6e9 units of work.
    std::vector<polygon> polys;
    appendGrid(polys, 200, 100, 0, 1);
    ASSERT_EQ(polys.size(), 40000u);
    auto obj = makeObject(256, 256, polys);
    consoleCapture capture;
    const char* titles[] = {"Generating Alpha Map: ", "Generating Positions Map: ", "Generating Normals Map: "};
    for (int step = 0; step < 3; ++step) {
        capture.clear();
        if (step == 0)
            generateAlphaMap(obj.get());
        else if (step == 1)
            generatePositionsMap(obj.get());
        else
            generateNormalsMap(obj.get());
        std::vector<int> values = progressValues(capture.text(), titles[step]);
        ASSERT_GE(values.size(), 90u);
        ASSERT_LE(values.size(), 101u);
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_GE(values[i], 0);
            EXPECT_LE(values[i], 100);
            if (i > 0) {
                EXPECT_GT(values[i], values[i - 1]);
            }
        }
        const int half = progressPercent(int64_t(128) * 256 * 40000, int64_t(256) * 256 * 40000);
        EXPECT_NE(std::find(values.begin(), values.end(), half), values.end());
        EXPECT_GE(values.back(), 99);
    }
}

TEST(normalsMap, withoutBumpMapNormalisedInterpolation)
{
    polygon p = tri(0.1, 0.05, 0.95, 0.3, 0.2, 0.9);
    p.normal[0] = vector(0, 2, 0);
    p.normal[1] = vector(1, 1, 0);
    p.normal[2] = vector(0, 0.5, 3);
    p.position[1] = vector(4, 4, 4);
    auto obj = makeObject(16, 16, {p});
    consoleCapture capture;
    generateAlphaMap(obj.get());
    generatePositionsMap(obj.get());
    generateNormalsMap(obj.get());
    int covered = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            vector corner(x / 16.0, y / 16.0, 0);
            if (!obj->alphaMap[x][y]) {
                EXPECT_EQ(obj->normalsMap[y][x], vector(0, 0, 0));
                EXPECT_EQ(obj->positionsMap[y][x], vector(0, 0, 0));
                continue;
            }
            ++covered;
            // Gap-filled texels outside the triangle extend the same plane.
            vector n = barycentric(p, p.normal, corner.x, corner.y);
            expectNear(obj->normalsMap[y][x], n / std::sqrt(dot(n, n)));
            expectNear(obj->positionsMap[y][x], barycentric(p, p.position, corner.x, corner.y));
        }
    EXPECT_GT(covered, 100);
}

namespace {

// A map whose every texel is covered by one polygon with the given corner normals; no texel
// corner is level with its pivot corner.
std::unique_ptr<object> coveredObject(int size, vector normal)
{
    polygon p = tri(-0.5, -0.5, 2, -0.3, -0.4, 2);
    for (vector& n : p.normal)
        n = normal;
    auto obj = makeObject(size, size, {p});
    for (int x = 0; x < size; ++x)
        for (int y = 0; y < size; ++y)
            obj->alphaMap[x][y] = &obj->shadingPolygons[0];
    return obj;
}

std::unique_ptr<bitmap> greyBitmap(int size, int level)
{
    auto b = std::make_unique<bitmap>(size, size, 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            b->setPixel(x, y, colour(level, level, level, 255));
    return b;
}

} // namespace

TEST(normalsMap, uniformBumpMapGivesNoTiltAndNoErrorAtTheBorders)
{
    for (int bumpSize : {8, 16}) {
        auto obj = coveredObject(8, vector(0, 0, 1));
        obj->setBumpMap(greyBitmap(bumpSize, 100));
        consoleCapture capture;
        generateNormalsMap(obj.get());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(obj->normalsMap[y][x], vector(0, 0, 1)) << x << ", " << y;
        EXPECT_EQ(capture.text().find("ERROR"), std::string::npos) << capture.text();
    }
}

TEST(normalsMap, smallerBumpMapTruncatesToPixelZeroSilently)
{
    auto obj = coveredObject(8, vector(0, 0, 1));
    obj->setBumpMap(greyBitmap(4, 200));
    consoleCapture capture;
    generateNormalsMap(obj.get());
    EXPECT_EQ(capture.text().find("ERROR"), std::string::npos);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(obj->normalsMap[y][x], vector(0, 0, 1)) << x << ", " << y;
}

TEST(normalsMap, tangentFramesAndWrappedGradients)
{
    // One raised bump texel at (3, 3) and one at (7, 5), which column 0 sees across the wrap.
    const int level = 51;
    const double g = level * static_cast<double>(1.0f / 255.0f);
    auto spikes = [&] {
        auto b = greyBitmap(8, 0);
        b->setPixel(3, 3, colour(level, level, level, 255));
        b->setPixel(7, 5, colour(level, level, level, 255));
        return b;
    };
    // N = (0, 1, 0): S = (1, 0, 0) along u, T = (0, 0, 1) along v.
    auto up = coveredObject(8, vector(0, 1, 0));
    up->setBumpMap(spikes());
    consoleCapture capture;
    generateNormalsMap(up.get());
    EXPECT_EQ(up->normalsMap[3][3], normalised(vector(g, 1, g)));
    EXPECT_EQ(up->normalsMap[3][4], normalised(vector(-g, 1, 0)));
    EXPECT_EQ(up->normalsMap[4][3], normalised(vector(0, 1, -g)));
    EXPECT_EQ(up->normalsMap[5][0], normalised(vector(-g, 1, 0)));
    EXPECT_EQ(up->normalsMap[2][2], vector(0, 1, 0));
    // N = (0, 0, 1): S = (0, 1, 0), T = (-1, 0, 0).
    auto flat = coveredObject(8, vector(0, 0, 1));
    flat->setBumpMap(spikes());
    generateNormalsMap(flat.get());
    EXPECT_EQ(flat->normalsMap[3][4], normalised(vector(0, -g, 1)));
    EXPECT_EQ(flat->normalsMap[4][3], normalised(vector(g, 0, 1)));
    EXPECT_EQ(flat->normalsMap[5][0], normalised(vector(0, -g, 1)));
    EXPECT_EQ(capture.text().find("ERROR"), std::string::npos);
}

TEST(normalsMap, zeroNormalStaysZeroWithBumpMap)
{
    auto obj = coveredObject(4, vector(0, 0, 0));
    obj->setBumpMap(greyBitmap(4, 90));
    consoleCapture capture;
    generateNormalsMap(obj.get());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(obj->normalsMap[y][x], vector(0, 0, 0));
}
