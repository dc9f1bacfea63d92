#include "core/vector.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(vector, equalityIncludesW)
{
    EXPECT_TRUE(vector() == vector(0, 0, 0));
    vector a(1, 2, 3), b(1, 2, 3);
    b.w = 2.0;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    // -0.0 and 0.0 are the same point.
    EXPECT_TRUE(vector(-0.0, 0, 0) == vector(0, 0, 0));
}

TEST(vector, setKeepsWArithmeticResetsIt)
{
    vector a(1, 2, 3);
    a.w = 2.0;
    a.set(4, 5, 6);
    EXPECT_EQ(a.w, 2.0);
    EXPECT_EQ(a.x, 4.0);
    vector results[] = {a + a, a - a, a * 2.0, a / 2.0, -a, negated(a), cross(a, a)};
    for (const vector& r : results)
        EXPECT_EQ(r.w, 1.0);
    // A copy keeps w; normalised keeps it too.
    vector copy = a;
    EXPECT_EQ(copy.w, 2.0);
    EXPECT_EQ(normalised(a).w, 2.0);
}

TEST(vector, arithmetic)
{
    vector a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a + b, vector(5, -3, 9));
    EXPECT_EQ(a - b, vector(-3, 7, -3));
    EXPECT_EQ(a * -2.0, vector(-2, -4, -6));
    EXPECT_EQ(b / 2.0, vector(2, -2.5, 3));
    EXPECT_EQ(dot(a, b), 12.0); // 4 - 10 + 18
    EXPECT_EQ(cross(vector(1, 0, 0), vector(0, 1, 0)), vector(0, 0, 1));
    EXPECT_EQ(cross(vector(0, 1, 0), vector(1, 0, 0)), vector(0, 0, -1));
    // (12 + 15, 12 - 6, -5 - 8); perpendicular to both: 27 + 12 - 39 = 0, 108 - 30 - 78 = 0.
    EXPECT_EQ(cross(a, b), vector(27, 6, -13));
    // Negation subtracts from zero, so a zero component stays +0.0.
    vector n = -vector(0, 1, 0);
    EXPECT_FALSE(std::signbit(n.x));
    EXPECT_EQ(n.y, -1.0);
    // Division by zero is not guarded.
    EXPECT_TRUE(std::isinf((a / 0.0).x));
}

TEST(vector, normalised)
{
    EXPECT_EQ(normalised(vector(0, 0, 0)), vector(0, 0, 0));
    vector n = normalised(vector(3, 0, 4));
    EXPECT_DOUBLE_EQ(n.x, 0.6);
    EXPECT_EQ(n.y, 0.0);
    EXPECT_DOUBLE_EQ(n.z, 0.8);
    vector v(0, -2, 0);
    normalise(v);
    EXPECT_EQ(v, vector(0, -1, 0));
}

TEST(pointInTriangle, counterClockwiseInsideAndEdges)
{
    vector a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
    struct Case {
        vector p;
        bool inside;
    } cases[] = {
        {{0.25, 0.25, 0}, true},
        {{0.5, 0.5, 0}, true},   // on the hypotenuse
        {{0, 0, 0}, true},       // a corner
        {{0.5, 0, 0}, true},     // on the bottom edge
        {{1, 1, 0}, false},
        {{-0.01, 0.5, 0}, false},
        {{0.25, 0.25, 99}, true}, // z is ignored
    };
    for (const Case& k : cases)
        EXPECT_EQ(pointInTriangle(k.p, a, b, c), k.inside) << k.p.x << "," << k.p.y;
}

TEST(pointInTriangle, clockwiseTriangleHoldsNothing)
{
    vector a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
    EXPECT_FALSE(pointInTriangle(vector(0.25, 0.25, 0), a, c, b));
    EXPECT_FALSE(pointInTriangle(vector(0, 0, 0), a, c, b));
}

TEST(pointInTriangle, degenerateTriangles)
{
    // Coincident corners: the zero-length edge passes everything; the others decide.
    vector a(0, 0, 0), b(1, 0, 0);
    EXPECT_TRUE(pointInTriangle(vector(0.5, 0, 0), a, a, b));
    EXPECT_TRUE(pointInTriangle(vector(7, 0, 0), a, a, b)); // anywhere on the line
    EXPECT_FALSE(pointInTriangle(vector(0.5, 0.1, 0), a, a, b));
    // All three corners equal: every point is inside.
    EXPECT_TRUE(pointInTriangle(vector(5, -3, 0), a, a, a));
}
