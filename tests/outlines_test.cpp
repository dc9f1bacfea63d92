#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/outlines.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using testmeshes::sphere;
using testmeshes::triangle;
using testmeshes::withEdges;

namespace {

// A light in one fixed direction from every point, so that dot products come out exact.
class directionLight : public light {
public:
    explicit directionLight(vector d) : direction(d) {}
    vector toLight(vector) override { return direction; }
    vector direction;
};

void expectNear(vector a, vector b, double tolerance = 1e-12)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

polygon withNormals(vector n)
{
    polygon p = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    for (vector& c : p.normal)
        c = n;
    return p;
}

bool contains(const std::vector<int>& list, int value)
{
    for (int v : list)
        if (v == value)
            return true;
    return false;
}

} // namespace

TEST(bentNormals, lightAlongTheNormalGivesEachCornerItsLightDirection)
{
    // From corners (0,0,0), (3,0,0) and (0,3,0) the light at (0,0,4) lies along (0,0,4),
    // (-3,0,4) and (0,-3,4), of length 4, 5 and 5: all within 60 degrees of the normal (0,0,1).
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 4));
    polygon p = triangle({0, 0, 0}, {3, 0, 0}, {0, 3, 0});
    std::array<vector, 3> bent = bentNormals(p, &lamp);
    expectNear(bent[0], vector(0, 0, 1));
    expectNear(bent[1], vector(-0.6, 0, 0.8));
    expectNear(bent[2], vector(0, -0.6, 0.8));
}

TEST(bentNormals, emptyLightListGivesZeroNormals)
{
    std::array<vector, 3> bent = bentNormals(withNormals(vector(0, 0, 1)), nullptr);
    for (const vector& n : bent)
        EXPECT_EQ(n, vector(0, 0, 0));
}

TEST(bentNormals, exactlySixtyDegreesTakesTheBlendWithFullWeight)
{
    polygon p = withNormals(vector(0.5, 0, 0.5)); // d = 0.5 exactly with the light along +z
    directionLight up(vector(0, 0, 3));
    std::array<vector, 3> bent = bentNormals(p, &up);
    for (const vector& n : bent)
        EXPECT_EQ(n, vector(0, 0, 1));

    // After a light that added its direction, the blend replaces the sum instead of adding.
    directionLight side(vector(1, 0, 1));
    side.next = &up;
    bent = bentNormals(p, &side);
    for (const vector& n : bent)
        EXPECT_EQ(n, vector(0, 0, 1));

    // The other way round the second light is within 60 degrees and adds to the first: the sum
    // of two unit vectors 45 degrees apart bisects them, (sin 22.5, 0, cos 22.5).
    up.next = nullptr;
    side.next = nullptr;
    up.next = &side;
    bent = bentNormals(p, &up);
    for (const vector& n : bent)
        expectNear(n, vector(0.38268343236508978, 0, 0.92387953251128674));
}

TEST(bentNormals, withinSixtyDegreesLightsAddUp)
{
    polygon p = withNormals(vector(0, 0, 1));
    directionLight a(vector(1, 0, 4)), b(vector(-1, 0, 4));
    a.next = &b;
    std::array<vector, 3> bent = bentNormals(p, &a);
    for (const vector& n : bent)
        expectNear(n, vector(0, 0, 1));
}

TEST(bentNormals, oneLightAtKnownAnglesFromTheNormal)
{
    // The file normal is (0,0,1) and the light lies along (sin a, 0, cos a). Within 60 degrees
    // the light direction is taken; beyond, with t = 2 cos a, (0,0,1)(1 - t) + light t.
    const double degree = 3.14159265358979323846 / 180.0;
    struct Case {
        double angle;
        vector expected;
    } cases[] = {
        {0, {0, 0, 1}},
        {30, {0.5, 0, 0.86602540378443865}},
        {60, {0.86602540378443865, 0, 0.5}}, // t = 1: the light direction again
        // t = 2 cos 75: x = 2 cos 75 sin 75 = sin 150 = 0.5, z = 1 - t + t cos 75
        // = 2 - 2 cos 75 - cos 30 = 0.6163365; over their length 0.7936439.
        {75, {0.63000544790530500, 0, 0.77659071305909650}},
        // cos a = 1/4, t = 1/2: halfway between (0,0,1) and (sqrt 15 / 4, 0, 1/4), that is
        // (sqrt 15, 0, 5) / sqrt 40 = (sqrt(3/8), 0, sqrt(5/8)).
        {std::acos(0.25) / degree, {0.61237243569579452, 0, 0.79056941504209483}},
        {90, {0, 0, 1}}, // t = 0: the file normal
        // t = -1: 2 (0,0,1) - (sin 120, 0, -0.5) = (-sqrt 3 / 2, 0, 2.5), of length sqrt 7.
        {120, {-0.32732683535398854, 0, 0.94491118252306806}},
    };
    polygon p = withNormals(vector(0, 0, 1));
    for (const Case& k : cases) {
        directionLight light(vector(std::sin(k.angle * degree), 0, std::cos(k.angle * degree)));
        for (const vector& n : bentNormals(p, &light)) {
            SCOPED_TRACE(k.angle);
            expectNear(n, k.expected);
        }
    }
    // At exactly 90 degrees, from a light direction of any length, the file normal is kept.
    directionLight grazing(vector(2, 0, 0));
    for (const vector& n : bentNormals(p, &grazing))
        EXPECT_EQ(n, vector(0, 0, 1));
}

TEST(bentNormals, beyondNinetyDegreesPushesAwayFromTheLight)
{
    polygon p = withNormals(vector(0, 0, 1));
    vector l = normalised(vector(1, 0, -1));
    directionLight behind(l);
    for (const vector& n : bentNormals(p, &behind)) {
        EXPECT_LT(dot(n, l), dot(vector(0, 0, 1), l));
        EXPECT_LT(n.x, 0);
        EXPECT_NEAR(std::sqrt(dot(n, n)), 1.0, 1e-12);
    }
}

TEST(bentNormals, fileNormalIsUsedAsStoredNotNormalised)
{
    // Normalised, this normal would be within 60 degrees of the light and give (0, 0, 1);
    // as stored its dot product is 0.3 and the blend applies.
    // t = 0.6: (0.3, 0, 0.3) * 0.4 + (0, 0, 1) * 0.6 = (0.12, 0, 0.72), along (1, 0, 6).
    polygon p = withNormals(vector(0.3, 0, 0.3));
    directionLight up(vector(0, 0, 1));
    for (const vector& n : bentNormals(p, &up))
        expectNear(n, vector(1 / std::sqrt(37.0), 0, 6 / std::sqrt(37.0)));
}

TEST(bentNormals, eachCornerAsksTheLightFromItsOwnPosition)
{
    // The light at (0,0,1) is straight above corner 0, 60 degrees from corner 1 at (sqrt 3,0,0)
    // and acos(1/4) from corner 2 at (0,sqrt 15,0), which takes the halfway blend.
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 1));
    polygon p = triangle({0, 0, 0}, {std::sqrt(3.0), 0, 0}, {0, std::sqrt(15.0), 0}, vector(0, 0, 1));
    std::array<vector, 3> bent = bentNormals(p, &lamp);
    expectNear(bent[0], vector(0, 0, 1));
    expectNear(bent[1], vector(-0.86602540378443865, 0, 0.5));
    expectNear(bent[2], vector(0, -0.61237243569579452, 0.79056941504209483));
}

TEST(outlineEdges, singleTriangleDrawsAllThreeEdgesWhicheverWayItFaces)
{
    auto tri = withEdges({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0})});
    for (vector eye : {vector(0, 0, 5), vector(0, 0, -5)}) {
        tri->markFacing(eye);
        EXPECT_EQ(outlineEdges(*tri), (std::vector<int>{0, 1, 2}));
    }
}

TEST(outlineEdges, flatSharedEdgeIsSkippedAndCreasesAreAlwaysDrawn)
{
    // Two coplanar triangles, then a third folded sharply down from the far edge.
    auto mesh = withEdges({triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0}),
                           triangle({0, 0, 0}, {1, 1, 0}, {0, 1, 0}),
                           triangle({0, 1, 0}, {1, 1, 0}, {0.5, 1, -1})});
    int diagonal = -1, crease = -1;
    for (int i = 0; i < mesh->edgeCount; ++i) {
        const edge& e = mesh->edges[i];
        if (e.secondFace == -1)
            continue;
        (e.sharp ? crease : diagonal) = i;
    }
    ASSERT_NE(diagonal, -1);
    ASSERT_NE(crease, -1);
    for (vector eye : {vector(0.5, 0.5, 5), vector(0.5, 0.5, -5)}) {
        mesh->markFacing(eye);
        std::vector<int> drawn = outlineEdges(*mesh);
        EXPECT_FALSE(contains(drawn, diagonal));
        EXPECT_TRUE(contains(drawn, crease));
        EXPECT_EQ(drawn.size(), static_cast<size_t>(mesh->edgeCount - 1));
    }
}

TEST(outlineEdges, closedMeshSeenFromOutsideDrawsItsSilhouetteLoop)
{
    auto ball = withEdges(sphere({0, 0, 0}, 1.0));
    for (const edge& e : ball->edges)
        ASSERT_EQ(e.sharp, 0);
    for (vector eye : {vector(0.3, 0.2, 6), vector(-5, 3, 1)}) {
        ball->markFacing(eye);
        std::vector<int> drawn = outlineEdges(*ball);
        ASSERT_GE(drawn.size(), 12u);
        std::map<std::pair<double, std::pair<double, double>>, int> degree;
        auto key = [](const vector& v) { return std::make_pair(v.x, std::make_pair(v.y, v.z)); };
        for (int i = 0; i < ball->edgeCount; ++i) {
            const edge& e = ball->edges[i];
            bool differ = ball->polygons[e.firstFace].facing != ball->polygons[e.secondFace].facing;
            EXPECT_EQ(contains(drawn, i), differ) << "edge " << i;
            if (differ) {
                ++degree[key(e.start)];
                ++degree[key(e.end)];
                // Near the rim as seen from the eye.
                vector m = (e.start + e.end) / 2.0;
                EXPECT_LT(std::fabs(dot(normalised(m), normalised(eye - m))), 0.45);
            }
        }
        // The silhouette of a closed mesh is made of closed loops.
        for (const auto& entry : degree)
            EXPECT_EQ(entry.second % 2, 0);
    }
}

TEST(outlineEdges, allFacingAwayStillDrawsTheSharpEdges)
{
    auto mesh = withEdges({triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0}),
                           triangle({0, 0, 0}, {1, 1, 0}, {0, 1, 0})});
    mesh->markFacing(vector(0.5, 0.5, -3));
    for (const polygon& p : mesh->polygons)
        ASSERT_EQ(p.facing, 0);
    std::vector<int> drawn = outlineEdges(*mesh);
    ASSERT_EQ(drawn.size(), 4u);
    for (int i : drawn)
        EXPECT_EQ(mesh->edges[i].sharp, 1);
}

TEST(outlineEdges, objectWithoutEdgesDrawsNone)
{
    object empty(0, 0);
    EXPECT_TRUE(outlineEdges(empty).empty());
}
