#include "core/console.h"
#include "mesh/object.h"
#include "mesh/uvrepair.h"

#include <gtest/gtest.h>

namespace {

polygon textured(vector t0, vector t1, vector t2)
{
    polygon p;
    p.position[0] = vector(10, 0, 0);
    p.position[1] = vector(11, 0, 0);
    p.position[2] = vector(12, 0, 0);
    p.texCoord[0] = t0;
    p.texCoord[1] = t1;
    p.texCoord[2] = t2;
    return p;
}

void setUp(object& obj, std::vector<polygon> polys, std::vector<vector> uvs)
{
    obj.polygons = std::move(polys);
    obj.polygonCount = static_cast<int>(obj.polygons.size());
    obj.uvs = std::move(uvs);
    obj.uvCount = static_cast<int>(obj.uvs.size());
}

} // namespace

TEST(uvWinding, clockwiseTrianglesSwapCornersOneAndTwoInTheShadingCopiesOnly)
{
    object obj(0, 0);
    setUp(obj, {textured({0, 0, 0}, {0, 1, 0}, {1, 0, 0}),   // clockwise
                textured({0, 0, 0}, {1, 0, 0}, {0, 1, 0}),   // counter-clockwise
                textured({0, 0, 0}, {0.5, 0.5, 0}, {1, 1, 0})}, // collinear
          {{0, 0, 0}, {1, 1, 0}});
    obj.polygons[0].texCoord[1].w = 3.0; // all four components move
    consoleCapture capture;
    checkUvWinding(&obj);
    EXPECT_EQ(capture.text(), "\nPERFORMING UV COUNTER CLOCKWISE TEST!\n");
    normaliseUvs(&obj);
    ASSERT_EQ(obj.shadingPolygons.size(), 3u);
    const polygon& swapped = obj.shadingPolygons[0];
    EXPECT_EQ(swapped.texCoord[1], vector(1, 0, 0));
    EXPECT_EQ(swapped.texCoord[2].x, 0.0);
    EXPECT_EQ(swapped.texCoord[2].y, 1.0);
    EXPECT_EQ(swapped.texCoord[2].w, 3.0);
    EXPECT_EQ(swapped.position[1], vector(11, 0, 0)); // positions stay
    EXPECT_EQ(obj.shadingPolygons[1].texCoord[1], vector(1, 0, 0));
    EXPECT_EQ(obj.shadingPolygons[2].texCoord[1], vector(0.5, 0.5, 0));
    // The mesh keeps the file's corners, which its colour texture is drawn with.
    EXPECT_EQ(obj.polygons[0].texCoord[1].y, 1.0);
    EXPECT_EQ(obj.polygons[0].texCoord[2], vector(1, 0, 0));
}

TEST(uvScaling, limitsPrintoutAndShadingCopies)
{
    object obj(0, 0);
    std::vector<vector> uvs = {{0.25, 0.5, 0}, {0.75, 0.5, 0}, {0.25, 1.5, 0}};
    setUp(obj, {textured(uvs[0], uvs[1], uvs[2])}, uvs);
    obj.polygons[0].texCoord[2].w = 7.0;
    consoleCapture capture;
    normaliseUvs(&obj);
    EXPECT_EQ(capture.text(),
              "\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\n"
              "LOWER LIMITS:   X = 0.250000 Y = 0.500000\n"
              "UPPER LIMITS:   X = 0.750000 Y = 1.500000\n"
              "SCALING UVS BY: X = 2.000000 Y = 1.000000\n\n");
    ASSERT_EQ(obj.shadingPolygons.size(), 1u);
    const polygon& s = obj.shadingPolygons[0];
    EXPECT_EQ(s.texCoord[0], vector(0, 0, 0));
    EXPECT_EQ(s.texCoord[1], vector(1, 0, 0));
    EXPECT_EQ(s.texCoord[2].x, 0.0);
    EXPECT_EQ(s.texCoord[2].y, 1.0);
    EXPECT_EQ(s.texCoord[2].w, 7.0);
    EXPECT_EQ(s.position[1], vector(11, 0, 0));
    EXPECT_EQ(obj.polygons[0].texCoord[1], vector(0.75, 0.5, 0)); // the mesh keeps its own
}

TEST(uvScaling, degenerateInputs)
{
    struct Case {
        const char* what;
        std::vector<vector> uvs;
        int polygons;
        std::string text;
    } cases[] = {
        {"no uvs", {}, 1, "\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\nERROR: Object has no UVs!\n"},
        {"no polygons", {{0, 0, 0}, {1, 2, 0}}, 0,
         "\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\n"
         "LOWER LIMITS:   X = 0.000000 Y = 0.000000\nUPPER LIMITS:   X = 1.000000 Y = 2.000000\n"
         "SCALING UVS BY: X = 1.000000 Y = 0.500000\n\nERROR: Object has no polygons!\n"},
        // One u for every coordinate: a scale of 1.0 instead of a division by zero.
        {"all u equal", {{0.5, 0, 0}, {0.5, 4, 0}, {0.5, 2, 0}}, 1,
         "\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\n"
         "LOWER LIMITS:   X = 0.500000 Y = 0.000000\nUPPER LIMITS:   X = 0.500000 Y = 4.000000\n"
         "SCALING UVS BY: X = 1.000000 Y = 0.250000\n\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        object obj(0, 0);
        std::vector<polygon> polys;
        for (int i = 0; i < k.polygons; ++i)
            polys.push_back(k.uvs.empty() ? polygon() : textured(k.uvs[0], k.uvs[1], k.uvs[2]));
        setUp(obj, polys, k.uvs);
        consoleCapture capture;
        normaliseUvs(&obj);
        EXPECT_EQ(capture.text(), k.text);
        EXPECT_EQ(obj.shadingPolygons.size(), static_cast<size_t>(k.uvs.empty() ? 0 : k.polygons));
        for (const polygon& s : obj.shadingPolygons)
            for (const vector& t : s.texCoord) {
                EXPECT_EQ(t.x, 0.0);
                EXPECT_TRUE(t.y >= 0.0 && t.y <= 1.0);
            }
    }
}
