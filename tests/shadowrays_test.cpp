#include "lights/pointlight.h"
#include "lights/shadowrays.h"
#include "mesh/object.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using testmeshes::triangle;

namespace {

// A triangle in the plane z = zPlane around the z axis, wound counter-clockwise seen from +z
// (normal +z), or from -z when towardMinusZ.
polygon blocker(double zPlane, bool towardMinusZ = false, double size = 1.0)
{
    vector a(-size, -size, zPlane), b(size, -size, zPlane), c(0, size, zPlane);
    return towardMinusZ ? triangle(a, c, b) : triangle(a, b, c);
}

std::unique_ptr<object> objectOf(std::vector<polygon> polys)
{
    auto obj = std::make_unique<object>(0, 0);
    obj->polygons = std::move(polys);
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    return obj;
}

} // namespace

TEST(pointInPolygon, strictlyInside)
{
    polygon t = triangle(vector(0, 0, 0), vector(2, 0, 0), vector(0, 2, 0));
    struct Case {
        const char* what;
        vector q;
        bool inside;
    } cases[] = {
        {"centre", vector(0.5, 0.5, 0), true},
        {"near a corner", vector(0.01, 0.01, 0), true},
        {"on the first edge", vector(1, 0, 0), false},
        {"on the hypotenuse", vector(1, 1, 0), false},
        {"on the third edge", vector(0, 1, 0), false},
        {"at a corner", vector(2, 0, 0), false},
        {"outside", vector(3, 3, 0), false},
        {"beyond the first edge", vector(1, -0.1, 0), false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(pointInPolygon(k.q, t), k.inside) << k.what;
}

TEST(segmentHitsPolygon, cases)
{
    const vector p(0, 0, 0);
    const vector toLight(0, 0, 10); // light at (0, 0, 10)
    struct Case {
        const char* what;
        vector d;
        vector p;
        polygon poly;
        bool hit;
    } cases[] = {
        {"facing p, crossed at 50 %", toLight, p, blocker(5, true), true},
        {"turned to face the light", toLight, p, blocker(5, false), false},
        {"crossed at 95 %", toLight, p, blocker(9.5, true), false},
        {"crossed at exactly 90 %", toLight, p, blocker(9, true), false},
        {"crossed at 89 %", toLight, p, blocker(8.9, true), true},
        {"beyond the light", toLight, p, blocker(12, true), false},
        {"behind p", toLight, p, blocker(-1, true), false},
        {"p on the polygon's plane", toLight, vector(0, 0, 5), blocker(5, true), false},
        {"crossing point on an edge", toLight, vector(0, -1, 0), blocker(5, true), false},
        {"crossing point beside the triangle", toLight, vector(5, 0, 0), blocker(5, true), false},
        {"path parallel to the plane", vector(10, 0, 0), vector(0, 0, 4), blocker(5, true), false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(segmentHitsPolygon(k.d, k.p, k.poly), k.hit) << k.what;
}

TEST(shadowRayBlocked, objectsAndOrder)
{
    const vector p(0, 0, 0);
    const vector d(0, 0, 10);
    EXPECT_FALSE(shadowRayBlocked(d, p, nullptr, 0));

    auto clear = objectOf({blocker(5, false), blocker(9.5, true), blocker(5, true, 1.0)});
    // The third polygon lies on the path: moved aside it blocks nothing.
    for (vector& corner : clear->polygons[2].position)
        corner = corner + vector(10, 0, 0);
    auto blocking = objectOf({blocker(3, true)});
    auto empty = objectOf({});

    object* none[] = {empty.get(), clear.get()};
    EXPECT_FALSE(shadowRayBlocked(d, p, none, 2));
    object* some[] = {empty.get(), clear.get(), blocking.get()};
    EXPECT_TRUE(shadowRayBlocked(d, p, some, 3));
    EXPECT_FALSE(shadowRayBlocked(d, p, some, 2)); // the count limits the objects
    // From beyond the blocker, with the light still at (0, 0, 10): nothing in the way.
    EXPECT_FALSE(shadowRayBlocked(vector(0, 0, 6), vector(0, 0, 4), some, 3));

    // polygonCount bounds the polygons tested.
    blocking->polygonCount = 0;
    EXPECT_FALSE(shadowRayBlocked(d, p, some, 3));
    blocking->polygonCount = 5; // more than there are: only the real ones
    EXPECT_TRUE(shadowRayBlocked(d, p, some, 3));
}

namespace {

object* hookObjects[1];
int hookCount = 0;

bool sceneBlocks(vector d, vector p) { return shadowRayBlocked(d, p, hookObjects, hookCount); }

} // namespace

TEST(shadowRayBlocked, pointLightGoesDarkBehindABlocker)
{
    // A wall at z = 2 facing -z between a light at (0, 0, 5) and points at z = 0.
    auto wall = objectOf({triangle(vector(-1, -1, 2), vector(-1, 1, 2), vector(1, -1, 2)),
                          triangle(vector(1, -1, 2), vector(-1, 1, 2), vector(1, 1, 2))});
    ASSERT_LT(wall->polygons[0].faceNormal.z, 0);
    hookObjects[0] = wall.get();
    hookCount = 1;

    pointlight l;
    l.setPosition(vector(0, 0, 5));
    l.setColour(colour(200, 200, 200, 255));
    l.setRange(10);
    l.blocked = sceneBlocks;

    const colour dark(0, 0, 0, 255);
    light* base = &l;
    EXPECT_EQ(base->illumination(vector(0.2, 0.3, 0)), dark);
    EXPECT_EQ(base->illumination(vector(-0.5, -0.4, 0)), dark);
    EXPECT_NE(base->illumination(vector(4, 0, 0)), dark);      // beside the wall
    EXPECT_NE(base->illumination(vector(0.2, 0.3, 3)), dark);  // between the wall and the light
    EXPECT_EQ(base->illumination(vector(4, 0, 0)), base->illumination(vector(0, 4, 0)));

    // Without the blocker the same points are lit.
    hookCount = 0;
    EXPECT_NE(base->illumination(vector(0.2, 0.3, 0)), dark);
}
