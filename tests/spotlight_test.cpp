#include "lights/spotlight.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double degree = 3.14159265358979323846 / 180.0;

// The tern_depth light: at (0, 0, -2), aimed at the origin.
void aimAtOrigin(spotlight& s)
{
    s.setPosition(vector(0, 0, -2));
    s.setDirection(vector(0, 0, 2));
    s.setColour(colour(200, 200, 200, 255));
}

// The point at the given angle from the axis of a light at (0, 0, -2) aimed along +z.
vector atAngle(double angle, double distance = 1.0)
{
    return vector(distance * std::sin(angle), 0, -2 + distance * std::cos(angle));
}

} // namespace

TEST(spotlight, freshLightDefaults)
{
    spotlight s;
    EXPECT_EQ(s.colour, colour(255, 255, 255, 255));
    EXPECT_EQ(s.next, nullptr);
    EXPECT_EQ(s.position, vector(0, 0, 0));
    EXPECT_EQ(s.direction, vector(1, -1, -1));
    EXPECT_EQ(s.cosInner, 0.7);
    EXPECT_EQ(s.cosOuter, 0.6);
    EXPECT_EQ(s.farDistance, 40.0);
    EXPECT_EQ(s.nearDistance, 10.0);
    EXPECT_EQ(s.depthMapWidth, 256.0);
    EXPECT_EQ(s.depthMapHeight, 256.0);
    EXPECT_EQ(s.depthMap, nullptr);
    const matrix identity;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(s.modelviewMatrix[i], identity[i]) << i;
        EXPECT_EQ(s.projectionMatrix[i], identity[i]) << i;
        EXPECT_EQ(s.shadowMatrix[i], identity[i]) << i;
    }
}

TEST(spotlight, positionDirectionAndToLight)
{
    spotlight s;
    vector v(1, 2, 3);
    v.w = 2.0;
    s.setPosition(v);
    EXPECT_EQ(s.position, v);
    EXPECT_EQ(s.position.w, 2.0);
    vector d(0, 0, 5);
    d.w = 3.0;
    s.setDirection(d);
    EXPECT_EQ(s.direction, d);
    EXPECT_EQ(s.direction.w, 3.0);

    s.setPosition(vector(0, 0, -2));
    vector t = s.toLight(vector(0, 0, 0));
    EXPECT_EQ(t, vector(0, 0, -2));
    EXPECT_EQ(t.w, 1.0);
}

TEST(spotlight, coneValues)
{
    spotlight s;
    aimAtOrigin(s);
    struct Case {
        const char* what;
        vector point;
        colour expected;
    } cases[] = {
        {"on the axis", vector(0, 0, 0), {200, 200, 200, 255}},
        {"inside the inner cone", atAngle(40 * degree), {200, 200, 200, 255}},
        {"50 degrees: factor 0.428", atAngle(50 * degree), {85, 85, 85, 255}},
        {"60 degrees: outside", atAngle(60 * degree), {0, 0, 0, 255}},
        {"behind the light", vector(0, 0, -3), {0, 0, 0, 255}},
        {"on the axis 39.9 away", vector(0, 0, -2 + 39.9), {200, 200, 200, 255}},
        {"on the axis 40 away", vector(0, 0, -2 + 40), {0, 0, 0, 255}},
        {"on the axis 100 away", vector(0, 0, 98), {0, 0, 0, 255}},
        {"at the light itself", vector(0, 0, -2), {0, 0, 0, 255}},
    };
    light* base = &s;
    for (const Case& k : cases)
        EXPECT_EQ(base->illumination(k.point), k.expected) << k.what;
}

TEST(spotlight, coneBoundariesAreExact)
{
    // At the origin aimed along +z, the cosine to (x, 0, z) is z / |(x, 0, z)| exactly.
    spotlight s;
    s.setColour(colour(200, 100, 50, 255));
    s.setDirection(vector(0, 0, 1));
    const vector onOuter(4, 0, 3);                   // cosine exactly 0.6
    const vector onInner(7.1414284285428504, 0, 7); // cosine exactly 0.7
    auto cosine = [](vector p) { return p.z / std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z); };
    ASSERT_EQ(cosine(onOuter), 0.6);
    ASSERT_EQ(cosine(onInner), 0.7);

    EXPECT_EQ(s.illumination(onOuter), colour(0, 0, 0, 255));
    EXPECT_EQ(s.illumination(onInner), colour(200, 100, 50, 255));
    // Halfway between the cones (cosine 0.65): half the colour, truncated, alpha 255.
    s.setColour(colour(201, 100, 51, 17));
    double x = std::sqrt(1 - 0.65 * 0.65) / 0.65;
    EXPECT_EQ(s.illumination(vector(x, 0, 1)), colour(100, 50, 25, 255));
}

TEST(spotlight, directionLengthAndZeroDirection)
{
    spotlight longer, unit, none;
    aimAtOrigin(longer);
    aimAtOrigin(unit);
    aimAtOrigin(none);
    longer.setDirection(vector(0, 0, 5));
    unit.setDirection(vector(0, 0, 1));
    for (double angle : {0.0, 30.0, 45.0, 47.0, 50.0, 52.0, 53.0, 60.0, 120.0})
        for (double distance : {0.5, 3.0, 20.0, 39.0})
            EXPECT_EQ(longer.illumination(atAngle(angle * degree, distance)),
                      unit.illumination(atAngle(angle * degree, distance)))
                << angle << " degrees, " << distance << " away";

    none.setDirection(vector(0, 0, 0));
    for (vector p : {vector(0, 0, 0), vector(1, 1, 1), vector(0, 0, -10), vector(0.1, 0, -1.9)})
        EXPECT_EQ(none.illumination(p), colour(0, 0, 0, 255));
}

TEST(spotlight, setRangeChangesNothing)
{
    spotlight s;
    aimAtOrigin(s);
    light* base = &s;
    base->setRange(5.0);
    EXPECT_EQ(s.farDistance, 40.0);
    EXPECT_EQ(s.illumination(vector(0, 0, -2 + 39.9)), colour(200, 200, 200, 255));
    EXPECT_EQ(s.illumination(vector(0, 0, 38)), colour(0, 0, 0, 255));
}

TEST(spotlight, destroyedThroughTheBase)
{
    // A spot light of a class further down, which records that its own destructor ran.
    struct recordingSpot : spotlight {
        explicit recordingSpot(bool& flag) : destroyed(flag) {}
        ~recordingSpot() override { destroyed = true; }
        bool& destroyed;
    };
    bool destroyed = false;
    light* l = new recordingSpot(destroyed);
    static_cast<spotlight*>(l)->depthMap.reset(new float[4]); // the sanitizer build reports a leaked map
    delete l;
    EXPECT_TRUE(destroyed);
}
