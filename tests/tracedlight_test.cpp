// Rays through whole scenes against answers worked out by hand: light bounced round a closed
// room of one albedo, a ball's shadow against its projected outline, occlusion beside a wall.

#include "texlight/tracedlight.h"

#include "core/console.h"
#include "core/workers.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"
#include "tests/testmeshes.h"
#include "texlight/lighting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;
const colour grey(153, 153, 153, 255);
const colour ambientLight(100, 100, 100, 255);

// The quad a, a + u, a + u + v, a + v as two triangles whose front is cross(u, v), with
// texture coordinates from lo to hi in both directions.
std::vector<polygon> quad(vector a, vector u, vector v, double lo = 0, double hi = 1)
{
    polygon p = testmeshes::triangle(a, a + u, a + u + v), q = testmeshes::triangle(a, a + u + v, a + v);
    p.texCoord[0] = q.texCoord[0] = vector(lo, lo, 0);
    p.texCoord[1] = vector(hi, lo, 0);
    p.texCoord[2] = q.texCoord[1] = vector(hi, hi, 0);
    q.texCoord[2] = vector(lo, hi, 0);
    return {p, q};
}

// polys with w x h maps and materials, their lighting left for later.
std::unique_ptr<object> prepared(std::vector<polygon> polys, int w, int h, colour diffuse = grey)
{
    auto obj = std::make_unique<object>(w, h);
    obj->polygons = std::move(polys);
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    // The range texture coordinates are stretched from: 0-1 keeps them as given.
    obj->uvs = {vector(0, 0, 0), vector(1, 1, 0)};
    obj->uvCount = 2;
    preparationSettings s;
    s.deferLighting = true;
    consoleCapture quiet;
    prepareObjectData(obj.get(), colour(60, 60, 60, 255), diffuse, colour(90, 90, 90, 255), s);
    return obj;
}

traceReport trace(object* const* objects, int count, light* lights, const traceSettings& t)
{
    consoleCapture quiet;
    return traceScene(objects, count, lights, t);
}

// Calls f(x, y, texel) for every covered texel.
void forCovered(const object& obj, const std::function<void(int, int, int)>& f)
{
    const int w = obj.finalBitmap->width, h = obj.finalBitmap->height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (obj.alphaMap[x][y])
                f(x, y, y * w + x);
}

// Lights every point of the room [-1, 1]^3 straight along the inward normal of the wall it
// lies on, so that each wall texel receives colour / 255 exactly.
class wallLight : public light {
public:
    vector toLight(vector p) override
    {
        const double a[3] = {std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)};
        const int k = a[0] >= a[1] && a[0] >= a[2] ? 0 : a[1] >= a[2] ? 1 : 2;
        const double side = (k == 0 ? p.x : k == 1 ? p.y : p.z) > 0 ? -1.0 : 1.0;
        return vector(k == 0 ? side : 0, k == 1 ? side : 0, k == 2 ? side : 0);
    }
    ::colour illumination(vector) override { return colour; }
    lightForm form() const override { return lightForm(); }
};

TEST(tracedFurnace, bouncedLightIsTheGeometricSeries)
{
    const int w = 16;
    // Texture coordinates half a texel in from the map's sides keep the point of every texel
    // from column and row 1 on strictly inside its wall, off the room's edges, where the
    // light's direction would be ambiguous; column and row 0 lie outside the room, unchecked.
    const double lo = 0.5 / w, hi = 1 - lo;
    const struct {
        vector origin, u, v;
    } walls[] = {
        {{-1, -1, 1}, {2, 0, 0}, {0, 0, -2}}, {{-1, 1, -1}, {2, 0, 0}, {0, 0, 2}},
        {{-1, -1, -1}, {0, 2, 0}, {0, 0, 2}}, {{1, -1, -1}, {0, 0, 2}, {0, 2, 0}},
        {{-1, -1, -1}, {2, 0, 0}, {0, 2, 0}}, {{-1, -1, 1}, {0, 2, 0}, {2, 0, 0}},
    };
    const int lightLevel = 101;
    const double r = grey.red / 255.0, E = lightLevel / 255.0;
    for (int bounces = 0; bounces <= 3; ++bounces) {
        SCOPED_TRACE("bounces " + std::to_string(bounces));
        std::vector<std::unique_ptr<object>> room;
        std::vector<object*> objects;
        for (const auto& wall : walls) {
            room.push_back(prepared(quad(wall.origin, wall.u, wall.v, lo, hi), w, w));
            objects.push_back(room.back().get());
            const polygon& p = room.back()->shadingPolygons[0];
            ASSERT_GT(dot(p.faceNormal, vector(0, 0, 0) - p.position[0]), 0) << "a wall faces out";
        }
        wallLight lamp;
        lamp.setColour(colour(lightLevel, lightLevel, lightLevel, 255));
        traceSettings t;
        t.bounces = bounces;
        t.samples = 32;
        trace(objects.data(), static_cast<int>(objects.size()), &lamp, t);

        double series = 0;
        for (int k = 0; k <= bounces; ++k)
            series += std::pow(r, k);
        const double expected = E * series;
        const int expectedByte = static_cast<int>(std::floor(grey.red * expected));
        int checked = 0, wrongLight = 0, wrongBytes = 0;
        double worst = 0;
        for (object* obj : objects) {
            const std::vector<float>* indirect = obj->traced ? &obj->traced->indirect : nullptr;
            if (bounces > 0) {
                ASSERT_TRUE(indirect && indirect->size() == 3u * w * w);
            }
            {
                consoleCapture quiet;
                relight(obj, {0, 1, 0}, &lamp, vector(0, 0, 0), ambientLight, true);
            }
            for (int y = 1; y < w; ++y)
                for (int x = 1; x < w; ++x) {
                    ASSERT_NE(obj->alphaMap[x][y], nullptr);
                    const int texel = y * w + x;
                    for (int c = 0; c < 3; ++c) {
                        const double gathered = bounces > 0 ? (*indirect)[3 * texel + c] : 0.0;
                        const double error = std::fabs(E + gathered - expected) / expected;
                        worst = std::max(worst, error);
                        wrongLight += error > 1e-5;
                    }
                    wrongBytes += obj->diffuseBitmap->pixelAt(x, y).red != expectedByte;
                    ++checked;
                }
        }
        EXPECT_EQ(checked, 6 * (w - 1) * (w - 1));
        EXPECT_EQ(wrongLight, 0) << "worst relative error " << worst;
        EXPECT_EQ(wrongBytes, 0) << "expected diffuse byte " << expectedByte;
    }
}

// A floor [-2, 2] x [-2, 2] at y = 0 under a ball and a point light.
struct ballScene {
    const vector centre{0, 1, 0};
    const double radius = 0.5;
    const vector lampAt{0.4, 3, 0.2};
    std::unique_ptr<object> floor = prepared(quad({-2, 0, 2}, {4, 0, 0}, {0, 0, -4}), 64, 64);
    std::unique_ptr<object> ball = prepared(testmeshes::sphere(centre, radius), 32, 32);
    pointlight lamp;
    object* objects[2] = {floor.get(), ball.get()};

    ballScene() { lamp.setPosition(lampAt); }
};

double distanceToSegment(vector c, vector a, vector b)
{
    const vector d = b - a;
    const double t = std::clamp(dot(c - a, d) / dot(d, d), 0.0, 1.0);
    const vector q = a + d * t - c;
    return std::sqrt(dot(q, q));
}

TEST(tracedShadows, ballShadowFollowsItsProjectedOutline)
{
    ballScene s;
    traceSettings t;
    t.shadows = true;
    ASSERT_TRUE(trace(s.objects, 2, &s.lamp, t).traced);
    const tracedTexels& f = *s.floor->traced;
    ASSERT_EQ(f.lightCount, 1);
    // The ball's triangles lie within its sphere and outside 0.97 of it.
    int inside = 0, outside = 0, wrong = 0;
    std::string example;
    forCovered(*s.floor, [&](int x, int y, int texel) {
        const double d = distanceToSegment(s.centre, s.floor->positionsMap[y][x], s.lampAt);
        const float want = d < 0.93 * s.radius ? 0.0f : d > 1.02 * s.radius ? 1.0f : -1.0f;
        if (want < 0)
            return;
        ++(want == 0 ? inside : outside);
        if (f.visibility[texel] != want && ++wrong == 1)
            example = "texel " + std::to_string(x) + "," + std::to_string(y) + " has " +
                      std::to_string(f.visibility[texel]);
    });
    EXPECT_GT(inside, 200);
    EXPECT_GT(outside, 3000);
    EXPECT_EQ(wrong, 0) << example;
}

TEST(tracedShadows, penumbraWidensWithTheLightsRadius)
{
    ballScene s;
    std::vector<int> between;
    for (double radius : {0.0, 0.2, 0.5}) {
        traceSettings t;
        t.shadows = true;
        t.lightRadius = radius;
        t.samples = 32;
        trace(s.objects, 2, &s.lamp, t);
        int count = 0;
        for (float v : s.floor->traced->visibility)
            count += v > 0 && v < 1;
        between.push_back(count);
    }
    EXPECT_EQ(between[0], 0);
    EXPECT_LT(between[0], between[1]);
    EXPECT_LT(between[1], between[2]);
}

std::vector<uint8_t> bytesOf(const bitmap& b) { return {b.pixels.get(), b.pixels.get() + b.byteCount()}; }

// Nothing but the lit surface itself: shadow rays may not darken any texel of it.
TEST(tracedShadows, loneSurfacesKeepEveryByte)
{
    const struct {
        const char* what;
        std::vector<polygon> polys;
        vector lampAt;
    } cases[] = {
        {"flat floor", quad({-2, 0, 2}, {4, 0, 0}, {0, 0, -4}), {0.3, 3, 0.2}},
        {"smooth ball", testmeshes::sphere(vector(0, 1, 0), 0.5), {2, 3, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto obj = prepared(c.polys, 64, 64);
        pointlight lamp;
        lamp.setPosition(c.lampAt);
        traceSettings t;
        t.shadows = true;
        object* objects[] = {obj.get()};
        trace(objects, 1, &lamp, t);
        ASSERT_TRUE(obj->traced && !obj->traced->visibility.empty());
        int darkened = 0;
        for (float v : obj->traced->visibility)
            darkened += v < 1;
        std::unique_ptr<tracedTexels> traced; // swapped with the object's after each relighting
        // All three terms go straight into the final colour; fewer pass through their bitmaps.
        for (lightingTerms terms : {lightingTerms{1, 1, 1}, lightingTerms{1, 1, 0}}) {
            SCOPED_TRACE(terms.specular ? "all terms" : "ambient and diffuse");
            std::vector<uint8_t> with[4], without[4];
            for (auto* out : {with, without}) {
                consoleCapture quiet;
                relight(obj.get(), terms, &lamp, vector(0, 4, 6), ambientLight, true);
                out[0] = bytesOf(*obj->ambientBitmap);
                out[1] = bytesOf(*obj->diffuseBitmap);
                out[2] = bytesOf(*obj->specularBitmap);
                out[3] = bytesOf(*obj->finalBitmap);
                std::swap(obj->traced, traced);
            }
            EXPECT_GT(std::count_if(with[3].begin(), with[3].end(), [](uint8_t b) { return b > 120; }), 300);
            for (int m = 0; m < 4; ++m) {
                size_t differing = 0;
                for (size_t i = 0; i < with[m].size(); ++i)
                    differing += with[m][i] != without[m][i];
                EXPECT_EQ(differing, 0u) << "bitmap " << m << "; texels not fully visible: " << darkened;
            }
        }
    }
}

// The open fraction of cosine-weighted directions above a floor point at distance d from a
// wall that reaches reach: the wall is met within reach by the directions whose component
// towards it exceeds d / reach, a segment of the unit disc they project onto.
double openBesideWall(double d, double reach)
{
    const double h = std::min(1.0, d / reach);
    return 1 - (std::acos(h) - h * std::sqrt(1 - h * h)) / pi;
}

TEST(tracedOcclusion, insideCornerAgainstOpenPlane)
{
    const int w = 32;
    auto floor = prepared(quad({0, 0, 2}, {2, 0, 0}, {0, 0, -2}), w, w);
    auto wall = prepared(quad({0, 0, 0}, {0, 2, 0}, {0, 0, 2}), w, w);
    traceSettings t;
    t.ambientOcclusion = true;
    t.occlusionDistance = 1.0;
    t.samples = 256;

    object* alone[] = {floor.get()};
    trace(alone, 1, nullptr, t);
    int closed = 0;
    forCovered(*floor, [&](int, int, int texel) { closed += floor->traced->occlusion[texel] != 1.0f; });
    EXPECT_EQ(closed, 0) << "texels of a lone plane not fully open";

    object* corner[] = {floor.get(), wall.get()};
    trace(corner, 2, nullptr, t);
    const int row = w / 2;
    for (int x : {1, 2, 4, 8, 12}) {
        const double d = floor->positionsMap[row][x].x;
        SCOPED_TRACE("distance from the wall " + std::to_string(d));
        const float open = floor->traced->occlusion[row * w + x];
        EXPECT_NEAR(open, openBesideWall(d, t.occlusionDistance), 0.05);
        if (x == 1) {
            EXPECT_LT(open, 0.6f);
        }
    }
    EXPECT_EQ(floor->traced->occlusion[row * w + w - 1], 1.0f); // beyond the reach
}

// The shared pool with n threads for one scope, back to two afterwards.
struct threadsForScope {
    explicit threadsForScope(int n) { setSharedWorkerThreads(n); }
    ~threadsForScope() { setSharedWorkerThreads(2); }
};

std::vector<uint32_t> bitsOf(const std::vector<float>& v)
{
    std::vector<uint32_t> bits(v.size());
    if (!v.empty())
        std::memcpy(bits.data(), v.data(), v.size() * sizeof(float));
    return bits;
}

TEST(tracedThreads, sameTexelsForAnyNumberOfThreads)
{
    traceSettings t;
    t.shadows = true;
    t.lightRadius = 0.3;
    t.ambientOcclusion = true;
    t.bounces = 2;
    t.samples = 16;
    std::vector<std::vector<uint32_t>> first;
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        threadsForScope pool(threads);
        ballScene s;
        trace(s.objects, 2, &s.lamp, t);
        std::vector<std::vector<uint32_t>> tables;
        for (object* obj : s.objects)
            for (const std::vector<float>* v : {&obj->traced->visibility, &obj->traced->occlusion, &obj->traced->indirect}) {
                EXPECT_FALSE(v->empty());
                tables.push_back(bitsOf(*v));
            }
        if (first.empty())
            first = tables;
        else
            for (size_t i = 0; i < tables.size(); ++i)
                EXPECT_TRUE(tables[i] == first[i]) << "table " << i;
    }
}

} // namespace
