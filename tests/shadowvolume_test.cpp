#include "lights/shadowvolume.h"
#include "mesh/object.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

using testmeshes::box;
using testmeshes::sphere;
using testmeshes::triangle;
using testmeshes::withEdges;

namespace {

vector centreOf(const polygon& p)
{
    return ((p.position[0] + p.position[1]) + p.position[2]) / 3.0;
}

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

TEST(shadowQuads, singleTriangleMakesThreeQuadsWhicheverWayItFaces)
{
    auto tri = floorTriangle();
    object* objects[] = {tri.get()};
    for (vector lightAt : {vector(0.2, 5, 0.1), vector(0.2, -5, 0.1)}) {
        std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
        ASSERT_EQ(quads.size(), 3u);
        EXPECT_EQ(tri->polygons[0].facing, lightAt.y > 0 ? 1 : 0);
        // One quad per edge, in edge order, each made of that edge and its extrusion.
        for (int k = 0; k < 3; ++k) {
            const edge& e = tri->edges[k];
            EXPECT_TRUE(startsWithEdge(quads[k], e) || endsWithEdge(quads[k], e)) << "edge " << k;
        }
    }
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
    for (vector lightAt : {vector(0.5, 3, -0.5), vector(0.5, -3, -0.5)}) {
        std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
        ASSERT_EQ(quads.size(), 4u);
        const edge& d = square->edges[diagonal];
        for (const quad& q : quads)
            EXPECT_FALSE(startsWithEdge(q, d) || endsWithEdge(q, d));
    }
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

TEST(shadowQuads, boundaryWindingFollowsTheOutwardVector)
{
    // For a boundary edge the face normal leans along the vector from the polygon's centre to
    // the edge's middle exactly when the edge's own order comes first.
    auto tri = withEdges({triangle({0, 0, 0}, {2, 0.5, 0}, {0.5, 0.2, -2})});
    object* objects[] = {tri.get()};
    int forward = 0, reversed = 0;
    for (vector lightAt : {vector(0.7, 6, -0.6), vector(0.7, -6, -0.6), vector(9, 1, 1),
                           vector(-4, 2, -7), vector(0.8, 0.23, -0.6)}) {
        std::vector<quad> quads = buildShadowQuads(objects, 1, lightAt);
        ASSERT_EQ(quads.size(), 3u);
        vector c1 = centreOf(tri->polygons[0]);
        for (int k = 0; k < 3; ++k) {
            const edge& e = tri->edges[k];
            vector outward = (e.start + e.end) / 2.0 - c1;
            bool leansOut = dot(quads[k].faceNormal, outward) >= 0;
            EXPECT_EQ(leansOut, startsWithEdge(quads[k], e));
            EXPECT_EQ(!leansOut, endsWithEdge(quads[k], e));
            vector f0 = farCorner(e.start, lightAt), f1 = farCorner(e.end, lightAt);
            if (leansOut) {
                EXPECT_EQ(quads[k].corners[2], f1);
                EXPECT_EQ(quads[k].corners[3], f0);
                ++forward;
            } else {
                EXPECT_EQ(quads[k].corners[0], f0);
                EXPECT_EQ(quads[k].corners[1], f1);
                ++reversed;
            }
        }
    }
    // Both orders were exercised.
    EXPECT_GT(forward, 0);
    EXPECT_GT(reversed, 0);
}

TEST(shadowQuads, faceNormalIsTheUnitNormalOfTheEdgeOrderNeverNegated)
{
    // Edges (0,0,0)->(3,0,0), (3,0,0)->(0,0,-4), (0,0,-4)->(0,0,0) of an upward triangle, lit
    // from straight above and below its first corner. The face through an edge and the ray to
    // its start has the normal (end - start) x (start - light), normalised:
    //   above, light (0,5,0):  (3,0,0) x (0,-5,0) = (0,0,-15);  (-3,0,-4) x (3,-5,0) = (-20,-12,15);
    //                          (0,0,4) x (0,-5,-4) = (20,0,0)
    //   below, light (0,-5,0): (3,0,0) x (0,5,0) = (0,0,15);    (-3,0,-4) x (3,5,0) = (20,-12,-15);
    //                          (0,0,4) x (0,5,-4) = (-20,0,0)
    // with |(20,12,15)| = sqrt(769). Lit from below the triangle faces away, so the corner
    // order turns round for some quads, but the normal keeps following the edge order.
    auto tri = withEdges({triangle({0, 0, 0}, {3, 0, 0}, {0, 0, -4})});
    object* objects[] = {tri.get()};
    const double r = std::sqrt(769.0);
    struct Case {
        vector lightAt;
        vector normals[3];
    } cases[] = {
        {{0, 5, 0}, {{0, 0, -1}, {-20 / r, -12 / r, 15 / r}, {1, 0, 0}}},
        {{0, -5, 0}, {{0, 0, 1}, {20 / r, -12 / r, -15 / r}, {-1, 0, 0}}},
    };
    for (const Case& k : cases) {
        std::vector<quad> quads = buildShadowQuads(objects, 1, k.lightAt);
        ASSERT_EQ(quads.size(), 3u);
        for (int e = 0; e < 3; ++e)
            expectNear(quads[e].faceNormal, k.normals[e], 1e-12, "face normal");
    }
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

    // A light sitting on a corner of the triangle.
    auto tri = withEdges({triangle(corner, {5, 0, -2}, {4, 0, -5})});
    object* objects[] = {tri.get()};
    std::vector<quad> quads = buildShadowQuads(objects, 1, corner);
    ASSERT_EQ(quads.size(), 3u);
    for (const quad& q : quads) {
        int atCorner = 0;
        for (const vector& c : q.corners)
            atCorner += c == corner;
        // Edges through the corner keep both their near and their far corner there.
        EXPECT_TRUE(atCorner == 0 || atCorner == 2) << atCorner;
    }
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
