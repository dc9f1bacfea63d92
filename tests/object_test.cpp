#include "core/console.h"
#include "mesh/object.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

// Readable failure messages; found by argument lookup, so it sits beside vector.
static void PrintTo(const vector& v, std::ostream* out)
{
    *out << "(" << v.x << ", " << v.y << ", " << v.z << "; w " << v.w << ")";
}

namespace {

TEST(ObjectConstruction, MapsFollowTheMapSizeInTheirOwnIndexOrder)
{
    object obj(4, 3);
    // alphaMap is [x][y], the vector grids [y][x].
    ASSERT_EQ(obj.alphaMap.outer(), 4);
    ASSERT_EQ(obj.alphaMap.inner(), 3);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(obj.alphaMap[x][y], nullptr);
    for (const grid<vector>* g : {&obj.normalsMap, &obj.positionsMap}) {
        ASSERT_EQ(g->outer(), 3);
        ASSERT_EQ(g->inner(), 4);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                EXPECT_EQ((*g)[y][x], vector(0, 0, 0));
                EXPECT_EQ((*g)[y][x].w, 1.0);
            }
    }
    for (const bitmap* b : {obj.diffuseBitmap.get(), obj.ambientBitmap.get(),
                            obj.specularBitmap.get(), obj.finalBitmap.get()}) {
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width, 4);
        EXPECT_EQ(b->height, 3);
        EXPECT_EQ(b->bytesPerPixel, 3);
        EXPECT_NE(b->pixels, nullptr);
    }
    // The four bitmaps are separate images.
    EXPECT_NE(obj.diffuseBitmap->pixels.get(), obj.finalBitmap->pixels.get());
}

struct mapSizeCase {
    int width;
    int height;
};

class ObjectWithoutMaps : public ::testing::TestWithParam<mapSizeCase> {};

TEST_P(ObjectWithoutMaps, HasNoGridsAndBitmapsWithoutBlocks)
{
    mapSizeCase c = GetParam();
    object obj(c.width, c.height);
    EXPECT_TRUE(obj.alphaMap.empty());
    EXPECT_TRUE(obj.normalsMap.empty());
    EXPECT_TRUE(obj.positionsMap.empty());
    for (const bitmap* b : {obj.diffuseBitmap.get(), obj.ambientBitmap.get(),
                            obj.specularBitmap.get(), obj.finalBitmap.get()}) {
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width, c.width);
        EXPECT_EQ(b->height, c.height);
        EXPECT_EQ(b->pixels, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(ZeroOrNegative, ObjectWithoutMaps,
                         ::testing::Values(mapSizeCase{0, 0}, mapSizeCase{0, 5}, mapSizeCase{5, 0},
                                           mapSizeCase{-1, 5}, mapSizeCase{5, -1},
                                           mapSizeCase{-3, -3}, mapSizeCase{-2000000000, 7}));

TEST(ObjectColourAt, UniformColourWinsAndIgnoresTheTexel)
{
    object obj(2, 2);
    texture t;
    t.uniform = std::make_unique<colour>(10, 20, 30, 255);
    t.image = std::make_unique<bitmap>(2, 2, 3);
    t.image->setPixel(1, 1, colour(1, 2, 3, 255));
    consoleCapture console;
    EXPECT_EQ(obj.colourAt(t, 1, 1), colour(10, 20, 30, 255));
    EXPECT_EQ(obj.colourAt(t, -50, 9999), colour(10, 20, 30, 255));
    EXPECT_EQ(console.text(), "");
}

TEST(ObjectColourAt, BitmapIsReadAtTheTexel)
{
    object obj(2, 2);
    texture t;
    t.image = std::make_unique<bitmap>(3, 2, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            t.image->setPixel(x, y, colour(static_cast<int16_t>(x * 10), static_cast<int16_t>(y * 10), 7, 255));
    consoleCapture console;
    EXPECT_EQ(obj.colourAt(t, 2, 1), colour(20, 10, 7, 255));
    EXPECT_EQ(obj.colourAt(t, 0, 1), colour(0, 10, 7, 255));
    EXPECT_EQ(console.text(), "");
    // Outside the image the bitmap's own range handling answers: black, opaque.
    EXPECT_EQ(obj.colourAt(t, 3, 0), colour(0, 0, 0, 255));
    EXPECT_NE(console.text(), "");
}

TEST(ObjectColourAt, EmptyTextureReportsEveryCallAndGivesOpaqueBlack)
{
    object obj(2, 2);
    consoleCapture console;
    EXPECT_EQ(obj.colourAt(obj.diffuseTexture, 0, 0), colour(0, 0, 0, 255));
    EXPECT_EQ(obj.colourAt(obj.diffuseTexture, 1, 1), colour(0, 0, 0, 255));
    EXPECT_EQ(console.text(),
              "ERROR: No type assigned to texture!\nERROR: No type assigned to texture!\n");
}

// A triangle in the plane z = 1 facing +z, and one in the plane x = 0 facing -x.
std::unique_ptr<object> twoTriangles()
{
    auto obj = std::make_unique<object>(0, 0);
    polygon up;
    up.position[0] = vector(0, 0, 1);
    up.position[1] = vector(1, 0, 1);
    up.position[2] = vector(0, 1, 1);
    up.faceNormal = vector(0, 0, 1);
    polygon side;
    side.position[0] = vector(0, 0, 0);
    side.position[1] = vector(0, 1, 0);
    side.position[2] = vector(0, 0, 1);
    side.faceNormal = vector(-1, 0, 0);
    obj->polygons = {up, side};
    obj->polygonCount = 2;
    return obj;
}

struct facingCase {
    const char* name;
    vector point;
    uint8_t up;
    uint8_t side;
};

class ObjectMarkFacing : public ::testing::TestWithParam<facingCase> {};

TEST_P(ObjectMarkFacing, MarksEachPolygonTowardsThePoint)
{
    facingCase c = GetParam();
    auto obj = twoTriangles();
    // Start from the opposite answer so that both values are really written.
    obj->polygons[0].facing = c.up ? 0 : 1;
    obj->polygons[1].facing = c.side ? 0 : 1;
    obj->markFacing(c.point);
    EXPECT_EQ(obj->polygons[0].facing, c.up);
    EXPECT_EQ(obj->polygons[1].facing, c.side);
}

INSTANTIATE_TEST_SUITE_P(
    Points, ObjectMarkFacing,
    ::testing::Values(facingCase{"AboveAndBehind", vector(5, 5, 3), 1, 0},
                      facingCase{"BelowAndInFront", vector(-2, 0.2, -4), 0, 1},
                      // On a triangle's plane, even far outside the triangle: not facing.
                      facingCase{"OnBothPlanes", vector(0, 7, 1), 0, 0},
                      facingCase{"OnTheUpperPlaneOnly", vector(-1, 0, 1), 0, 1},
                      facingCase{"JustAbove", vector(0, 0, 1.000001), 1, 0}),
    [](const ::testing::TestParamInfo<facingCase>& info) { return std::string(info.param.name); });

TEST(ObjectMarkFacing, LeavesShadingPolygonsAlone)
{
    auto obj = twoTriangles();
    obj->shadingPolygons = obj->polygons;
    obj->markFacing(vector(0, 0, -10));
    EXPECT_EQ(obj->polygons[0].facing, 0);
    EXPECT_EQ(obj->shadingPolygons[0].facing, 1);
    EXPECT_EQ(obj->shadingPolygons[1].facing, 1);
}

} // namespace
