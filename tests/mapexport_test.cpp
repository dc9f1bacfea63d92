#include "core/bitmap.h"
#include "core/console.h"
#include "mesh/object.h"
#include "texlight/mapexport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

std::string tempName(const std::string& name)
{
    return testing::TempDir() + "mapexport_" + std::to_string(getpid()) + "_" + name;
}

// Writes one map and reads it back.
std::unique_ptr<bitmap> exported(object& obj, unsigned kind, std::string* console = nullptr)
{
    std::string path = tempName("map.bmp");
    std::remove(path.c_str());
    consoleCapture capture;
    writeMap(&obj, kind, path);
    if (console)
        *console = capture.text();
    auto back = readBmp(path);
    std::remove(path.c_str());
    return back;
}

} // namespace

TEST(mapExport, vectorEncoding)
{
    struct Case {
        vector n;
        colour expected;
    } cases[] = {
        {{0, 1, 0}, {127, 254, 127, 255}},
        {{1, 0, 0}, {0, 127, 127, 255}},
        {{0, 0, 1}, {127, 127, 0, 255}},
        {{0, 0, 0}, {127, 127, 127, 255}},
        {{-1, -1, -1}, {254, 0, 254, 255}},
        {{2, 0, 0}, {129, 127, 127, 255}}, // 127 - 254 = -127, whose low byte is 129
        {{1e30, 0, 0}, {0, 127, 127, 255}}, // far positions wrap instead of overflowing
    };
    object obj(8, 4);
    for (unsigned kind : {5u, 6u}) {
        grid<vector>& map = kind == 5 ? obj.normalsMap : obj.positionsMap;
        for (const Case& k : cases) {
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 8; ++x)
                    map[y][x] = k.n;
            std::string console;
            auto image = exported(obj, kind, &console);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(console, kind == 5 ? "Writing Normals Map\n" : "");
            ASSERT_EQ(image->width, 8);
            ASSERT_EQ(image->height, 4);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(image->pixelAt(x, y), k.expected) << kind << ": " << k.n.x << "," << k.n.y << "," << k.n.z;
        }
    }
}

TEST(mapExport, coverageAndLightingBitmaps)
{
    object obj(5, 3); // odd width: padded BMP rows
    polygon p;
    obj.alphaMap[4][2] = &p;
    obj.alphaMap[0][1] = &p;
    auto alpha = exported(obj, 4);
    ASSERT_NE(alpha, nullptr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            int g = obj.alphaMap[x][y] ? 255 : 0;
            EXPECT_EQ(alpha->pixelAt(x, y), colour(g, g, g, 255)) << x << "," << y;
        }

    for (unsigned kind = 0; kind < 4; ++kind) {
        bitmap* source = kind == 0 ? obj.diffuseBitmap.get() : kind == 1 ? obj.ambientBitmap.get()
                       : kind == 2 ? obj.specularBitmap.get() : obj.finalBitmap.get();
        for (size_t i = 0; i < source->byteCount(); ++i)
            source->pixels[i] = static_cast<uint8_t>(kind * 50 + i);
        auto back = exported(obj, kind);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(0, std::memcmp(back->pixels.get(), source->pixels.get(), source->byteCount())) << kind;
    }
}

TEST(mapExport, unknownKindAndEmptyMaps)
{
    object obj(4, 4);
    std::string path = tempName("seven.bmp");
    std::remove(path.c_str());
    consoleCapture capture;
    EXPECT_FALSE(writeMap(&obj, 7, path));
    EXPECT_EQ(capture.text(), "Enter valid buffer for writing to BMP!\n");
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    // An object without maps reports through the writer and writes nothing; the normals
    // map is announced only when it was written.
    object none(0, 0);
    capture.clear();
    EXPECT_FALSE(writeMap(&none, 6, path));
    EXPECT_FALSE(writeMap(&none, 0, path));
    EXPECT_FALSE(writeMap(&none, 5, path));
    EXPECT_EQ(capture.text(), "ERROR: Bitmap is empty!\nERROR: Bitmap is empty!\nERROR: Bitmap is empty!\n");
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    capture.clear();
    EXPECT_TRUE(writeMap(&obj, 5, path));
    EXPECT_EQ(capture.text(), "Writing Normals Map\n");
    std::remove(path.c_str());
}

// The plain form: every covered texel in the square around each uncovered one, nearest first.
colour nearestCovered(const object& obj, const bitmap& map, int x, int y, int reach)
{
    long best = -1;
    colour value = map.pixelAt(x, y);
    for (int ny = y - reach; ny <= y + reach; ++ny)
        for (int nx = x - reach; nx <= x + reach; ++nx) {
            if (nx < 0 || ny < 0 || nx >= map.width || ny >= map.height || !obj.alphaMap[nx][ny])
                continue;
            const long d = long(nx - x) * (nx - x) + long(ny - y) * (ny - y);
            if (best < 0 || d < best) { // rows and then columns come in rising order
                best = d;
                value = map.pixelAt(nx, ny);
            }
        }
    return value;
}

TEST(mapExport, dilationGivesUncoveredTexelsTheirNearestChart)
{
    // Two charts of known shape in a 60 x 24 map: a rectangle and a diagonal stair, their
    // texels numbered so that every copy shows where it came from.
    object obj(60, 24);
    polygon p;
    for (int y = 4; y < 10; ++y)
        for (int x = 3; x < 12; ++x)
            obj.alphaMap[x][y] = &p;
    for (int i = 0; i < 12; ++i)
        obj.alphaMap[34 + i][8 + i] = obj.alphaMap[35 + i][8 + i] = &p;
    // Equally near to (47, 7): one found on the ring of radius 4, the other, in a lower row, on
    // the ring of radius 5.
    obj.alphaMap[50][11] = obj.alphaMap[47][2] = &p;
    for (int bpp : {3, 1}) {
        bitmap map(60, 24, bpp);
        for (size_t i = 0; i < map.byteCount(); ++i)
            map.pixels[i] = static_cast<uint8_t>(i * 7 + 1);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 60; ++x)
                if (!obj.alphaMap[x][y])
                    map.setPixel(x, y, colour(0, 0, 0, 0));
        for (int reach : {4, lightmapReach}) {
            auto out = dilateCharts(obj, map, reach);
            ASSERT_NE(out, nullptr);
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 60; ++x)
                    ASSERT_EQ(out->pixelAt(x, y), nearestCovered(obj, map, x, y, reach))
                        << x << "," << y << " reach " << reach << " bpp " << bpp;
            // Known answers: straight out of the rectangle's right side, off its corner, and
            // past the reach.
            EXPECT_EQ(out->pixelAt(11 + reach, 6), map.pixelAt(11, 6));
            EXPECT_EQ(out->pixelAt(2, 3), map.pixelAt(3, 4));
            EXPECT_EQ(out->pixelAt(11 + reach + 1, 6), colour(0, 0, 0, 255));
            EXPECT_EQ(out->pixelAt(47, 7), map.pixelAt(reach < 5 ? 50 : 47, reach < 5 ? 11 : 2));
        }
    }
    bitmap wrongSize(59, 24, 3);
    EXPECT_EQ(dilateCharts(obj, wrongSize), nullptr);
}

// A texel takes the colour map at the file's coordinates of its surface point, also on a
// triangle whose texture corners run clockwise in the file (the shading copy has 1 and 2
// exchanged), so the texel at texture (u, v) on a copy of the file's own layout reads (u, v).
TEST(mapExport, albedoReadsTheColourMapAtTheFileCoordinates)
{
    for (bool clockwise : {false, true}) {
        object obj(8, 8);
        polygon drawn;
        drawn.texCoord[0] = vector(0, 0, 0);
        drawn.texCoord[1] = clockwise ? vector(0, 1, 0) : vector(1, 0, 0);
        drawn.texCoord[2] = clockwise ? vector(1, 0, 0) : vector(0, 1, 0);
        drawn.uvClockwise = clockwise;
        polygon shading = drawn;
        if (clockwise)
            std::swap(shading.texCoord[1], shading.texCoord[2]);
        obj.polygons = {drawn};
        obj.shadingPolygons = {shading};
        auto colours = std::make_unique<bitmap>(8, 8, 3);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                colours->setPixel(x, y, colour(static_cast<int16_t>(30 * x), static_cast<int16_t>(30 * y), 7, 255));
        const bitmap& map = *colours;
        obj.setColourMap(std::move(colours));
        bitmap white(8, 8, 3);
        std::memset(white.pixels.get(), 255, white.byteCount());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x + y < 7; ++x)
                obj.alphaMap[x][y] = &obj.shadingPolygons[0];
        auto out = timesColourMap(obj, white);
        ASSERT_NE(out, nullptr);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x + y < 7; ++x)
                EXPECT_EQ(out->pixelAt(x, y), map.sampleAt(x / 8.0f, y / 8.0f))
                    << x << "," << y << (clockwise ? " clockwise" : "");
    }
}
