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
    pointlight lamp;
    lamp.setPosition(vector(0.2, 0.3, 6));
    polygon p = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    std::array<vector, 3> bent = bentNormals(p, &lamp);
    for (int k = 0; k < 3; ++k)
        expectNear(bent[k], normalised(lamp.position - p.position[k]));
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

    // The other way round the second light is within 60 degrees and adds to the first.
    up.next = nullptr;
    side.next = nullptr;
    up.next = &side;
    bent = bentNormals(p, &up);
    for (const vector& n : bent)
        expectNear(n, normalised(vector(0, 0, 1) + normalised(vector(1, 0, 1))));
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

TEST(bentNormals, betweenSixtyAndNinetyDegreesSlidesBackToTheFileNormal)
{
    polygon p = withNormals(vector(0, 0, 1));
    vector l = normalised(vector(std::sqrt(15.0), 0, 1)); // d = 0.25
    directionLight light(l);
    std::array<vector, 3> bent = bentNormals(p, &light);
    double t = 2 * dot(l, vector(0, 0, 1));
    for (const vector& n : bent)
        expectNear(n, normalised(vector(0, 0, 1) * (1 - t) + l * t));
    // At exactly 90 degrees the file normal is kept.
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
    polygon p = withNormals(vector(0.3, 0, 0.3));
    directionLight up(vector(0, 0, 1));
    for (const vector& n : bentNormals(p, &up))
        expectNear(n, normalised(vector(0.3, 0, 0.3) * 0.4 + vector(0, 0, 0.6)));
}

TEST(bentNormals, eachCornerAsksTheLightFromItsOwnPosition)
{
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 0.5));
    polygon p = triangle({-4, 0, 0}, {4, 0, 0}, {0, 4, 0}, vector(0, 0, 1));
    std::array<vector, 3> bent = bentNormals(p, &lamp);
    // The far corners see the light at a low angle, so their normals are blends.
    for (int k = 0; k < 3; ++k) {
        vector l = normalised(lamp.position - p.position[k]);
        double t = 2 * dot(l, p.normal[k]);
        ASSERT_LE(t, 1);
        expectNear(bent[k], normalised(p.normal[k] * (1 - t) + l * t));
    }
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
