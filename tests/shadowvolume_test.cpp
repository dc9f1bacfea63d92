#include "lights/shadowvolume.h"
#include "mesh/object.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>

using testmeshes::box;
using testmeshes::sphere;
using testmeshes::triangle;
using testmeshes::withEdges;

namespace {

double length(vector v) { return std::sqrt(dot(v, v)); }

void expectNear(vector a, vector b, double tolerance, const char* what)
{
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

// The near corners of a quad, in the edge's own start-to-end order.
bool startsWithEdge(const quad& q, const edge& e)
{
    return q.corners[0] == e.start && q.corners[1] == e.end;
}

bool endsWithEdge(const quad& q, const edge& e)
{
    return q.corners[2] == e.end && q.corners[3] == e.start;
}

// A triangle in the plane y = 0 facing +y.
std::unique_ptr<object> floorTriangle()
{
    return withEdges({triangle({-1, 0, 1}, {1, 0, 1}, {0, 0, -1})});
}

// The edges of obj whose two polygons face the light differently, or that have one polygon.
std::vector<int> expectedSilhouette(const object& obj)
{
    std::vector<int> out;
    for (int i = 0; i < obj.edgeCount; ++i) {
        const edge& e = obj.edges[i];
        if (e.secondFace == -1 || obj.polygons[e.firstFace].facing != obj.polygons[e.secondFace].facing)
            out.push_back(i);
    }
    return out;
}

bool facesLight(const polygon& p, vector lightAt) { return dot(p.faceNormal, lightAt - p.position[0]) > 0; }

// An edge whichever way it is written, and +1 when a to b runs along the key.
using edgeKey = std::pair<std::vector<double>, std::vector<double>>;

std::vector<double> coordinates(const vector& v) { return {v.x + 0.0, v.y + 0.0, v.z + 0.0, v.w + 0.0}; }

edgeKey keyOf(const vector& a, const vector& b)
{
    return coordinates(a) < coordinates(b) ? edgeKey{coordinates(a), coordinates(b)} : edgeKey{coordinates(b), coordinates(a)};
}

int along(const vector& a, const vector& b) { return coordinates(a) < coordinates(b) ? 1 : -1; }

// The counts made from the facing triangles alone, without the edge list, against the quads:
// |count| quads on each counted edge and none elsewhere, none cancelling another, far corners
// on the light's rays, and the facing triangles running the quad's way behind its front.
void expectQuadsMatchCounts(const object& obj, vector lightAt, const std::vector<quad>& quads, const std::string& what)
{
    std::map<edgeKey, int> expected, found, way;
    for (const polygon& p : obj.polygons)
        for (int k = 0; k < 3 && facesLight(p, lightAt); ++k)
            if ((expected[keyOf(p.position[k], p.position[(k + 1) % 3])] += along(p.position[k], p.position[(k + 1) % 3])) == 0)
                expected.erase(keyOf(p.position[k], p.position[(k + 1) % 3]));
    for (const quad& q : quads) {
        // Drawn against the way its facing triangles run; the near corners first or last.
        const bool first = length(q.corners[0] - lightAt) < length(q.corners[3] - lightAt);
        const vector from = q.corners[first ? 1 : 3], to = q.corners[first ? 0 : 2];
        const edgeKey key = keyOf(from, to);
        found[key] += along(from, to);
        EXPECT_NE(way[key], -along(from, to)) << what << ": quads cancel";
        way[key] = along(from, to);
        EXPECT_EQ(q.corners[first ? 3 : 0], farCorner(first ? to : from, lightAt)) << what;
        EXPECT_EQ(q.corners[first ? 2 : 1], farCorner(first ? from : to, lightAt)) << what;
        const vector n = cross(q.corners[1] - q.corners[0], q.corners[3] - q.corners[0]);
        for (const polygon& p : obj.polygons)
            for (int k = 0; k < 3 && facesLight(p, lightAt); ++k)
                if (p.position[k] == from && p.position[(k + 1) % 3] == to) {
                    const vector third = p.position[(k + 2) % 3] - from;
                    if (std::fabs(dot(n, third)) > 1e-9 * length(n) * length(third)) {
                        EXPECT_LT(dot(n, third), 0) << what << ": a facing triangle in front of its quad";
                    }
                }
    }
    EXPECT_EQ(found, expected) << what;
}

void addQuadrilateral(std::vector<polygon>& polys, vector a, vector b, vector c, vector d)
{
    polys.push_back(triangle(a, b, c));
    polys.push_back(triangle(a, c, d));
}

// The unit box without its bottom, or with a frame around a hole in its top.
std::vector<polygon> openBox(bool holeInTop)
{
    std::vector<polygon> polys;
    for (const polygon& p : box({0, 0, 0}, {1, 1, 1}))
        if (p.faceNormal.y != (holeInTop ? 1 : -1))
            polys.push_back(p);
    // Counter-clockwise from above, as the box's top runs.
    const vector outer[4] = {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}};
    const vector inner[4] = {{0.3, 1, 0.3}, {0.3, 1, 0.7}, {0.7, 1, 0.7}, {0.7, 1, 0.3}};
    for (int k = 0; k < 4 && holeInTop; ++k)
        addQuadrilateral(polys, outer[k], outer[(k + 1) % 4], inner[(k + 1) % 4], inner[k]);
    return polys;
}

// A unit square at y = 0 facing up, split along its diagonal from the origin, and a fin on
// that diagonal: three triangles on one edge, the fin at the given place in the order.
std::vector<polygon> squareWithFin(int finAt, bool reversed)
{
    const vector p0(0, 0, 0), p2(1, 0, 1), top(0.5, 1, 0.5);
    std::vector<polygon> polys = {triangle(p0, {0, 0, 1}, p2), triangle(p0, p2, {1, 0, 0})};
    polys.insert(polys.begin() + finAt, reversed ? triangle(p2, p0, top) : triangle(p0, p2, top));
    return polys;
}

} // namespace

TEST(shadowQuads, nothingToCastFromNoObjectsOrNoEdges)
{
    EXPECT_TRUE(buildShadowQuads(nullptr, 0, vector(0, 5, 0)).empty());

    object bare(0, 0);
    bare.polygons.push_back(triangle({0, 0, 0}, {1, 0, 0}, {0, 0, -1}));
    bare.polygons[0].facing = 0;
    bare.polygonCount = 1; // no edge list
    object* objects[] = {&bare};
    EXPECT_TRUE(buildShadowQuads(objects, 1, vector(0, 5, 0)).empty());
    // The facing flags are still brought up to date for the light.
    EXPECT_EQ(bare.polygons[0].facing, 1);
}

TEST(shadowQuads, singleTriangleCastsOnlyWhileItFacesTheLight)
{
    auto tri = floorTriangle();
    object* objects[] = {tri.get()};
    std::vector<quad> quads = buildShadowQuads(objects, 1, vector(0.2, 5, 0.1));
    ASSERT_EQ(quads.size(), 3u);
    EXPECT_EQ(tri->polygons[0].facing, 1);
    // One quad per edge, in edge order, each made of that edge and its extrusion.
    for (int k = 0; k < 3; ++k) {
        const edge& e = tri->edges[k];
        EXPECT_TRUE(startsWithEdge(quads[k], e) || endsWithEdge(quads[k], e)) << "edge " << k;
    }
    // Its back to the light, or edge on, it hides nothing.
    EXPECT_TRUE(buildShadowQuads(objects, 1, vector(0.2, -5, 0.1)).empty());
    EXPECT_EQ(tri->polygons[0].facing, 0);
    EXPECT_TRUE(buildShadowQuads(objects, 1, vector(7, 0, -3)).empty());
}

TEST(shadowQuads, edgeBetweenTwoLitOrTwoUnlitPolygonsMakesNoQuad)
{
    // A square of two coplanar triangles: the diagonal is shared, the rim is boundary.
    auto square = withEdges({triangle({0, 0, 0}, {1, 0, 0}, {1, 0, -1}),
                             triangle({0, 0, 0}, {1, 0, -1}, {0, 0, -1})});
    ASSERT_EQ(square->edgeCount, 5);
    int diagonal = -1;
    for (int i = 0; i < square->edgeCount; ++i)
        if (square->edges[i].secondFace != -1)
            diagonal = i;
    ASSERT_NE(diagonal, -1);
    object* objects[] = {square.get()};
    std::vector<quad> quads = buildShadowQuads(objects, 1, vector(0.5, 3, -0.5));
    ASSERT_EQ(quads.size(), 4u);
    const edge& d = square->edges[diagonal];
    for (const quad& q : quads)
        EXPECT_FALSE(startsWithEdge(q, d) || endsWithEdge(q, d));
    EXPECT_TRUE(buildShadowQuads(objects, 1, vector(0.5, -3, -0.5)).empty());
}

TEST(shadowQuads, closedBoxLitFromOutsideExtrudesOnlyTheLitRim)
{
    auto cube = withEdges(box({0, 0, 0}, {1, 1, 1}));
    object* objects[] = {cube.get()};
    // Above the top face: only its two triangles are lit, so only its four rim edges cast.
    std::vector<quad> quads = buildShadowQuads(objects, 1, vector(0.5, 5, 0.5));
    ASSERT_EQ(quads.size(), 4u);
    for (const quad& q : quads) {
        const vector& a = q.corners[0].y == 1 ? q.corners[0] : q.corners[2];
        const vector& b = q.corners[0].y == 1 ? q.corners[1] : q.corners[3];
        EXPECT_EQ(a.y, 1);
        EXPECT_EQ(b.y, 1);
        // A rim edge of the top face, not its diagonal.
        EXPECT_TRUE(a.x == b.x || a.z == b.z);
    }
    int lit = 0;
    for (const polygon& p : cube->polygons)
        lit += p.facing;
    EXPECT_EQ(lit, 2);
}

TEST(shadowQuads, closedSphereExtrudesExactlyItsSilhouetteInEdgeOrder)
{
    auto ball = withEdges(sphere({1, 2, 3}, 1.5));
    for (const edge& e : ball->edges)
        ASSERT_EQ(e.secondFace == -1, false);
    object* objects[] = {ball.get()};
    vector lightAt(4, 7, -2);
    std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
    std::vector<int> silhouette = expectedSilhouette(*ball);
    ASSERT_FALSE(silhouette.empty());
    ASSERT_EQ(quads.size(), silhouette.size());
    for (size_t i = 0; i < quads.size(); ++i) {
        const edge& e = ball->edges[silhouette[i]];
        EXPECT_TRUE(startsWithEdge(quads[i], e) || endsWithEdge(quads[i], e)) << "quad " << i;
    }
}

TEST(shadowQuads, frontSidesFaceOutOfTheVolume)
{
    // Around a sphere the volume is a cone about the axis from the light through the centre:
    // each side face's counter-clockwise normal must point away from that axis.
    vector centre(-3, 1, 2);
    auto ball = withEdges(sphere(centre, 1.0));
    object* objects[] = {ball.get()};
    for (vector lightAt : {vector(-3, 8, 2), vector(5, 3, -4), vector(-3.5, 1.2, 9)}) {
        std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
        ASSERT_FALSE(quads.empty());
        vector axis = normalised(centre - lightAt);
        for (const quad& q : quads) {
            vector windingNormal = cross(q.corners[1] - q.corners[0], q.corners[3] - q.corners[0]);
            vector middle = (q.corners[0] + q.corners[1] + q.corners[2] + q.corners[3]) / 4.0 - lightAt;
            vector awayFromAxis = middle - axis * dot(middle, axis);
            EXPECT_GT(dot(windingNormal, awayFromAxis), 0);
        }
    }
}

TEST(shadowQuads, faceNormalIsTheUnitNormalOfTheEdgeOrderNeverNegated)
{
    // Edges (0,0,0)->(3,0,0), (3,0,0)->(0,0,-4), (0,0,-4)->(0,0,0) of an upward triangle, lit
    // from straight above its first corner. The face through an edge and the ray to its start
    // has the normal (end - start) x (start - light), normalised:
    //   (3,0,0) x (0,-5,0) = (0,0,-15);  (-3,0,-4) x (3,-5,0) = (-20,-12,15);  (0,0,4) x (0,-5,-4) = (20,0,0)
    // with |(20,12,15)| = sqrt(769).
    auto tri = withEdges({triangle({0, 0, 0}, {3, 0, 0}, {0, 0, -4})});
    object* objects[] = {tri.get()};
    const double r = std::sqrt(769.0);
    const vector normals[3] = {{0, 0, -1}, {-20 / r, -12 / r, 15 / r}, {1, 0, 0}};
    std::vector<quad> quads = buildShadowQuads(objects, 1, vector(0, 5, 0));
    ASSERT_EQ(quads.size(), 3u);
    for (int e = 0; e < 3; ++e)
        expectNear(quads[e].faceNormal, normals[e], 1e-12, "face normal");
}

TEST(shadowQuads, farCornersLieBeyondTheEndPointsAlongTheLightsRays)
{
    // Far from the world origin, where extruding to 1000 units from the origin would put the
    // far corners back on the other side of the light.
    vector offset(2500, -40, -1800);
    auto tri = withEdges({triangle(offset + vector(-1, 0, 1), offset + vector(1, 0, 1),
                                   offset + vector(0, 0, -1))});
    object* objects[] = {tri.get()};
    vector lightAt = offset + vector(0.3, 4, 0.2);
    std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
    ASSERT_EQ(quads.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const edge& e = tri->edges[k];
        const quad& q = quads[k];
        vector nearStart = startsWithEdge(q, e) ? q.corners[0] : q.corners[3];
        vector farStart = startsWithEdge(q, e) ? q.corners[3] : q.corners[0];
        vector farEnd = startsWithEdge(q, e) ? q.corners[2] : q.corners[1];
        EXPECT_EQ(nearStart, e.start);
        EXPECT_NEAR(length(farStart - e.start), shadowExtrusion, 1e-9);
        EXPECT_NEAR(length(farEnd - e.end), shadowExtrusion, 1e-9);
        // On the ray from the light through the end point, beyond it.
        expectNear(normalised(farStart - lightAt), normalised(e.start - lightAt), 1e-12, "start ray");
        expectNear(normalised(farEnd - lightAt), normalised(e.end - lightAt), 1e-12, "end ray");
        EXPECT_GT(length(farStart - lightAt), length(e.start - lightAt));
        // Below the triangle, like the shadow it bounds.
        EXPECT_LT(farStart.y, offset.y - 900);
    }
}

TEST(shadowQuads, zeroDirectionLeavesTheCornerAtTheEndPoint)
{
    vector corner(3, 0, -2);
    EXPECT_EQ(farCorner(corner, corner), corner);
    EXPECT_EQ(farCorner(vector(0, 0, 0), vector(0, 0, 0)), vector(0, 0, 0));
    EXPECT_EQ(farCorner(vector(1, 2, 3), vector(1, 2, 2)), vector(1, 2, 1003));

    // A light sitting on a corner of a triangle lies in its plane: the triangle does not face
    // it, so no quad ever reaches back to the light.
    auto tri = withEdges({triangle(corner, {5, 0, -2}, {4, 0, -5})});
    object* objects[] = {tri.get()};
    EXPECT_TRUE(buildShadowQuads(objects, 1, corner).empty());
}

TEST(shadowQuads, everyObjectCastsInArrayOrderWhateverItsFlags)
{
    auto first = withEdges({triangle({0, 0, 0}, {1, 0, 0}, {0, 0, -1})});
    auto second = withEdges(box({3, 0, 0}, {4, 1, 1}));
    second->visible = 0;
    second->pickable = 0;
    for (edge& e : second->edges)
        e.sharp = 0; // the crease flag plays no part
    object* objects[] = {first.get(), second.get()};
    std::vector<quad> quads = buildShadowQuads(objects, 2, vector(3.5, 5, 0.5));
    ASSERT_EQ(quads.size(), 3u + 4u);
    for (size_t i = 0; i < quads.size(); ++i) {
        double nearX = quads[i].corners[0].y == 0 || quads[i].corners[0].y == 1
                           ? quads[i].corners[0].x
                           : quads[i].corners[2].x;
        if (i < 3)
            EXPECT_LE(nearX, 1) << "quad " << i;
        else
            EXPECT_GE(nearX, 3) << "quad " << i;
    }
}

TEST(shadowQuads, facingFlagsDescribeTheLightAfterwards)
{
    auto cube = withEdges(box({0, 0, 0}, {1, 1, 1}));
    cube->markFacing(vector(-5, 0.5, 0.5)); // as seen from a camera on the other side
    object* objects[] = {cube.get()};
    buildShadowQuads(objects, 1, vector(5, 0.5, 0.5));
    for (const polygon& p : cube->polygons)
        EXPECT_EQ(p.facing, p.faceNormal.x > 0.5 ? 1 : 0);
}

namespace {

struct castCase {
    const char* mesh;
    std::vector<polygon> polys;
    vector lightAt;
    size_t quads;
};

std::vector<castCase> castTable()
{
    const std::vector<polygon> cube = box({0, 0, 0}, {1, 1, 1}), bottomless = openBox(false), holed = openBox(true);
    const std::vector<polygon> single = {triangle({0, 0, 0}, {0, 0, 1}, {1, 0, 0})};
    std::vector<castCase> table = {
        {"closed box", cube, {0.5, 5, 0.5}, 4},  // the top's rim
        {"closed box", cube, {3, 4, 5}, 6},      // around top, +x and +z
        {"closed box", cube, {0.5, 0.5, 0.5}, 0},
        // The open rim belongs to sides turned away from a light above.
        {"bottomless box", bottomless, {0.5, 5, 0.5}, 4},
        {"bottomless box", bottomless, {5, 0.5, 0.5}, 4}, // the +x side, open edge included
        {"bottomless box", bottomless, {3, 4, 5}, 6},
        {"bottomless box", bottomless, {0.5, -5, 0.5}, 0}, // only backs face it through the opening
        {"box with a hole", holed, {0.5, 5, 0.5}, 8},      // outer rim and the hole's rim
        {"box with a hole", holed, {0.5, -5, 0.5}, 4},
        // The square's halves cancel on the diagonal and the fin's quad stays, whichever two
        // of the three the edge list names there.
        {"fin first", squareWithFin(0, false), {0.2, 3, 0.8}, 7},
        {"fin between", squareWithFin(1, false), {0.2, 3, 0.8}, 7},
        {"fin last", squareWithFin(2, false), {0.2, 3, 0.8}, 7},
        {"fin last, from behind", squareWithFin(2, false), {0.8, 3, 0.2}, 4},
        {"fin between, from below", squareWithFin(1, false), {0.2, -3, 0.8}, 3},
        {"reversed fin first", squareWithFin(0, true), {0.8, 3, 0.2}, 7},
        {"reversed fin last, from below", squareWithFin(2, true), {0.2, -3, 0.8}, 0},
        {"single triangle", single, {0.3, 2, 0.3}, 3},
        {"single triangle", single, {0.3, -2, 0.3}, 0},
        // Half the square wound the wrong way: each half casts while it faces the light.
        {"half flipped", {single[0], triangle({1, 0, 0}, {1, 0, 1}, {0, 0, 1})}, {0.5, 3, 0.5}, 3},
        // Folded onto the same side of their edge, both run it the same way: it counts two.
        {"folded", {triangle({0, 0, 0}, {0, 0, 1}, {1, 0, 1}), triangle({0, 0, 0}, {0.1, 0.2, 0.9}, {1, 0, 1})}, {0.5, 3, 0.5}, 6},
    };
    // Two boxes on one edge, four triangles on it: there the first box's lit top and +x side
    // cancel and the second box's faces are unlit; six quads and four.
    std::vector<polygon> pair = cube, second = box({1, 1, 0}, {2, 2, 1});
    pair.insert(pair.end(), second.begin(), second.end());
    table.push_back({"two boxes on one edge", pair, {1.5, 5, 0.5}, 10});
    std::rotate(pair.begin(), pair.begin() + 12, pair.end());
    table.push_back({"two boxes on one edge, second first", pair, {1.5, 5, 0.5}, 10});
    return table;
}

} // namespace

TEST(shadowQuads, tableOfOpenClosedAndNonManifoldMeshes)
{
    for (const castCase& c : castTable()) {
        auto obj = withEdges(c.polys);
        object* objects[] = {obj.get()};
        std::vector<quad> quads = buildShadowQuads(objects, 1, c.lightAt);
        const std::string what = std::string(c.mesh) + " lit from y = " + std::to_string(c.lightAt.y);
        EXPECT_EQ(quads.size(), c.quads) << what;
        expectQuadsMatchCounts(*obj, c.lightAt, quads, what);
    }
}

TEST(shadowQuads, generatedMeshesCastWhatTheirFacingTrianglesCount)
{
    // Corners from a small lattice, edges reused either way round: open, non-manifold, folded
    // and degenerate meshes.
    std::mt19937 random(20261208);
    for (int round = 0; round < 60; ++round) {
        std::uniform_int_distribution<int> coordinate(0, 2 + round % 4);
        auto point = [&] { return vector(coordinate(random), coordinate(random), coordinate(random)); };
        std::vector<polygon> polys;
        for (int i = 1 + static_cast<int>(random() % 120); i > 0; --i) {
            if (polys.empty() || random() % 3 != 0) {
                polys.push_back(triangle(point(), point(), point()));
                continue;
            }
            const polygon& other = polys[random() % polys.size()];
            const int k = static_cast<int>(random() % 3);
            const vector a = other.position[k], b = other.position[(k + 1) % 3];
            polys.push_back(random() % 2 ? triangle(b, a, point()) : triangle(a, b, point()));
        }
        auto obj = withEdges(polys);
        object* objects[] = {obj.get()};
        std::uniform_real_distribution<double> spread(-3, 8);
        for (int l = 0; l < 3; ++l) {
            const vector lightAt(spread(random) + 0.013, spread(random) + 0.029, spread(random) + 0.007);
            expectQuadsMatchCounts(*obj, lightAt, buildShadowQuads(objects, 1, lightAt), "round " + std::to_string(round));
        }
    }
}

namespace {

// How many light-facing triangles the segment from the light to the point crosses; unsure
// when it passes near a triangle's border.
int volumesAround(const object& obj, vector lightAt, vector point, bool& unsure)
{
    int n = 0;
    for (const polygon& p : obj.polygons) {
        const vector e1 = p.position[1] - p.position[0], e2 = p.position[2] - p.position[0], d = point - lightAt;
        const vector s = lightAt - p.position[0], h = cross(d, e2), q = cross(s, e1);
        const double det = dot(e1, h);
        if (!facesLight(p, lightAt) || std::fabs(det) < 1e-14)
            continue;
        const double u = dot(s, h) / det, v = dot(d, q) / det, t = dot(e2, q) / det;
        const double nearest = std::min({u, v, 1 - u - v, t, 1 - t});
        unsure = unsure || std::fabs(nearest) < 1e-7;
        n += nearest > 0;
    }
    return n;
}

// Whether (u, v) lies in the convex polygon; unsure near its border.
bool inside(const nearPolygon& p, double u, double v, bool& unsure)
{
    double area = 0;
    for (int i = 0; i < p.count; ++i)
        area += p.u[i] * p.v[(i + 1) % p.count] - p.u[(i + 1) % p.count] * p.v[i];
    bool in = true;
    for (int i = 0, j = 1; i < p.count; ++i, j = (i + 1) % p.count) {
        const double eu = p.u[j] - p.u[i], ev = p.v[j] - p.v[i];
        const double side = (eu * (v - p.v[i]) - ev * (u - p.u[i])) / std::hypot(eu, ev) * (area > 0 ? 1 : -1);
        unsure = unsure || std::fabs(side) < 1e-7;
        in = in && side > 0;
    }
    return in;
}

} // namespace

TEST(nearEntries, noneWhileTheNearPlaneIsOutsideEveryVolume)
{
    auto cube = withEdges(box({-1, 1, -1}, {1, 2, 1}));
    object* objects[] = {cube.get()};
    const vector lightAt(0.3, 6, 0.2);
    shadowVolumeSet volumes = buildShadowVolumes(objects, 1, lightAt, {{4, 0.5, 0}, {0, 0, 0.1}, {0, 0.08, 0}});
    EXPECT_TRUE(volumes.entries.empty());
    std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
    ASSERT_EQ(volumes.sides.size(), quads.size());
    for (size_t i = 0; i < quads.size(); ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(volumes.sides[i].corners[k], quads[i].corners[k]);
    // Below the box the whole window starts in its shadow.
    EXPECT_FALSE(buildShadowVolumes(objects, 1, lightAt, {{0.1, 0.5, -0.1}, {0.1, 0, 0}, {0, 0, 0.08}}).entries.empty());
    // Without an edge list nothing casts.
    cube->edgeCount = 0;
    EXPECT_TRUE(buildShadowVolumes(objects, 1, lightAt, {{0.1, 0.5, -0.1}, {0.1, 0, 0}, {0, 0, 0.08}}).entries.empty());
    EXPECT_TRUE(shadowCaps(objects, 1).empty());
}

TEST(nearEntries, everyPointOfTheWindowStartsInTheVolumesAroundIt)
{
    // Windows of several sizes and turns in and around each mesh's shadow: the entries around
    // a point of the window number the facing triangles between it and the light.
    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> place(-1, 2), turn(0, 6.283), window(-1, 1);
    int judged = 0, shadowed = 0;
    for (const castCase& c : castTable()) {
        auto obj = withEdges(c.polys);
        object* objects[] = {obj.get()};
        for (double size : {0.05, 0.3, 1.5}) {
            const double a = turn(random), b = turn(random);
            const vector across = vector(std::cos(a), std::sin(a) * std::cos(b), std::sin(a) * std::sin(b)) * size;
            const vector up = normalised(cross(across, vector(0.3, 0.2, 0.9))) * (size * 0.8);
            const nearRectangle view{{place(random), c.lightAt.y > 0 ? -0.5 : 1.5, place(random)}, across, up};
            const shadowVolumeSet volumes = buildShadowVolumes(objects, 1, c.lightAt, view);
            for (int i = 0; i < 100; ++i) {
                const double u = window(random), v = window(random);
                bool unsure = false;
                const int expected = volumesAround(*obj, c.lightAt, view.centre + view.across * u + view.up * v, unsure);
                int found = 0;
                for (const nearPolygon& p : volumes.entries)
                    found += inside(p, u, v, unsure);
                if (unsure)
                    continue;
                ++judged;
                shadowed += expected > 0;
                EXPECT_EQ(found, expected) << c.mesh << " at (" << u << ", " << v << ")";
            }
        }
    }
    EXPECT_GT(judged, 6000);
    EXPECT_GT(shadowed, 1000);
}
