#include "core/colour.h"

#include <gtest/gtest.h>

TEST(colour, scaledTruncatesAndClamps)
{
    struct Case {
        colour in;
        double s;
        colour out;
    } cases[] = {
        {{200, 100, 50, 255}, 0.5, {100, 50, 25, 255}},
        {{200, 100, 50, 255}, 2.0, {255, 200, 100, 255}},
        {{3, 5, 7, 0}, 0.5, {1, 2, 3, 255}},          // truncation; alpha becomes 255
        {{200, 100, 50, 255}, -1.0, {0, 0, 0, 255}},  // negative products clamp to 0
        {{255, 255, 255, 255}, 1e9, {255, 255, 255, 255}}, // no wrap-around on huge factors
    };
    for (const Case& k : cases) {
        colour before = k.in;
        EXPECT_EQ(scaled(k.in, k.s), k.out) << k.s;
        EXPECT_EQ(k.in, before); // the operand is not changed
    }
}

TEST(colour, clampedLimitsInPlace)
{
    colour c(-5, 300, 128, 1000);
    colour& r = clamped(c);
    EXPECT_EQ(&r, &c);
    EXPECT_EQ(c, colour(0, 255, 128, 255));
}
