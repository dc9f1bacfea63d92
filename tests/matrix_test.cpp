#include "core/matrix.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

matrix translation(double x, double y, double z)
{
    matrix t;
    t[12] = x;
    t[13] = y;
    t[14] = z;
    return t;
}

matrix scaling(double x, double y, double z)
{
    matrix s;
    s[0] = x;
    s[5] = y;
    s[10] = z;
    return s;
}

// Applies m (column-major) to a point, the way OpenGL does.
void apply(const matrix& m, const double p[4], double out[4])
{
    for (int r = 0; r < 4; ++r) {
        out[r] = 0;
        for (int c = 0; c < 4; ++c)
            out[r] += m[4 * c + r] * p[c];
    }
}

} // namespace

TEST(matrix, identityIsNeutral)
{
    matrix m;
    for (int i = 0; i < 16; ++i)
        m[i] = i * 1.5 - 3;
    matrix left = matrix() * m, right = m * matrix();
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(left[i], m[i]);
        EXPECT_EQ(right[i], m[i]);
    }
}

TEST(matrix, productReadsAsReversedOpenGLProduct)
{
    // t x s stored is the OpenGL product s * t: translate first, then scale.
    matrix ts = translation(1, 2, 3) * scaling(2, 3, 4);
    double p[4] = {1, 1, 1, 1}, q[4];
    apply(ts, p, q);
    EXPECT_EQ(q[0], (1 + 1) * 2.0);
    EXPECT_EQ(q[1], (1 + 2) * 3.0);
    EXPECT_EQ(q[2], (1 + 3) * 4.0);
    EXPECT_EQ(q[3], 1.0);
    // Not commutative: the other order scales first.
    matrix st = scaling(2, 3, 4) * translation(1, 2, 3);
    apply(st, p, q);
    EXPECT_EQ(q[0], 2.0 + 1);
    EXPECT_EQ(q[2], 4.0 + 3);
}

TEST(matrix, printsRowsBetweenBars)
{
    EXPECT_EQ(toString(matrix()), "\n| 1 0 0 0 |\n| 0 1 0 0 |\n| 0 0 1 0 |\n| 0 0 0 1 |\n");
    std::ostringstream out;
    out << translation(0.5, -2, 1e-7);
    EXPECT_EQ(out.str(), "\n| 1 0 0 0.5 |\n| 0 1 0 -2 |\n| 0 0 1 1e-07 |\n| 0 0 0 1 |\n");
}
