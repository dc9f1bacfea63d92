#include "core/console.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"
#include "tests/glcontext.h"
#include "texlight/textures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A unit square in the x-y plane facing +z, two triangles, texture coordinates over 2 x 2
// (so that the repeating colour texture tiles), normals +z.
const char squareObj[] =
    "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
    "vt 0 0\nvt 2 0\nvt 2 2\nvt 0 2\n"
    "vn 0 0 1\n"
    "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";

std::unique_ptr<object> square(int w, int h)
{
    consoleCapture quiet;
    return parseObject(squareObj, sizeof squareObj - 1, "square.obj", w, h);
}

std::vector<uint8_t> textureBytes(unsigned id, int w, int h)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 3);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, bytes.data());
    return bytes;
}

std::vector<uint8_t> bitmapBytes(const bitmap& b)
{
    return std::vector<uint8_t>(b.pixels.get(), b.pixels.get() + b.byteCount());
}

struct preparedSquare {
    pointlight lamp;
    std::unique_ptr<object> obj;
    std::string console;

    explicit preparedSquare(int w = 13, int h = 7, std::unique_ptr<bitmap> colourMap = nullptr)
    {
        lamp.setPosition(vector(0.5, 0, 2));
        lamp.setColour(colour(200, 200, 200, 255));
        obj = square(w, h);
        if (colourMap)
            obj->setColourMap(std::move(colourMap));
        preparationSettings settings;
        settings.lights = &lamp;
        settings.eye = vector(0, 0, 5);
        consoleCapture capture;
        prepareObject(obj.get(), colour(200, 100, 0, 255), colour(200, 200, 200, 255),
                      colour(255, 255, 255, 255), settings);
        console = capture.text();
    }
};

std::vector<uint8_t> screenPixel(int x, int y)
{
    std::vector<uint8_t> rgb(3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

} // namespace

TEST(preparation, consoleOrderAndBakedLightmap)
{
    REQUIRE_GL();
    preparedSquare s;
    const char* steps[] = {"\nPERFORMING UV COUNTER CLOCKWISE TEST!\n",
                           "\nSCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!\n",
                           "Generating Edge List: ",
                           "\nEDGE LIST GENERATED:\n",
                           "Generating Alpha Map: ",
                           "Generating Positions Map: ",
                           "Generating Normals Map: ",
                           "Initialising bitmap : DIFFUSE\n",
                           "Initialising bitmap : AMBIENT\n",
                           "Initialising bitmap : SPECULAR\n",
                           "Initialising bitmap : FINAL COLOUR\n"};
    size_t at = 0;
    for (const char* step : steps) {
        size_t found = s.console.find(step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step;
        at = found;
    }
    EXPECT_EQ(s.console.find("ERROR"), std::string::npos);

    // Ambient and diffuse baked, specular left cleared, and their saturating sum uploaded.
    const object& o = *s.obj;
    for (size_t i = 0; i < o.finalBitmap->byteCount(); ++i) {
        unsigned sum = unsigned(o.ambientBitmap->pixels[i]) + o.diffuseBitmap->pixels[i];
        ASSERT_EQ(o.finalBitmap->pixels[i], sum > 255 ? 255 : sum) << i;
        ASSERT_EQ(o.specularBitmap->pixels[i], 0) << i;
    }
    EXPECT_EQ(o.ambientBitmap->pixelAt(6, 3), colour(78, 39, 0, 255));
    EXPECT_NE(o.lightmapTextureId, 0u);
    EXPECT_EQ(o.colourTextureId, 0u); // no colour map, no colour texture
    EXPECT_NE(o.meshList, 0u);
    EXPECT_NE(o.shadingList, 0u);
    // An odd width: rows reach OpenGL tightly packed, not skewed.
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 13, 7), bitmapBytes(*o.finalBitmap));
}

TEST(preparation, colourTexturesOfEveryDepthBecomeRgb)
{
    REQUIRE_GL();
    auto grey = std::make_unique<bitmap>(3, 2, 1);
    for (int i = 0; i < 6; ++i)
        grey->pixels[i] = static_cast<uint8_t>(40 * i);
    preparedSquare s(8, 8, std::move(grey));
    ASSERT_NE(s.obj->colourTextureId, 0u);
    std::vector<uint8_t> rgb = textureBytes(s.obj->colourTextureId, 3, 2);
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(rgb[3 * i + c], 40 * i);
    GLint wrap = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(wrap, GL_REPEAT);
    glBindTexture(GL_TEXTURE_2D, s.obj->lightmapTextureId);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(wrap, GL_CLAMP);
}

TEST(textureSpaceDrawing, relightsOnlyTheChosenTermsAndUploads)
{
    REQUIRE_GL();
    preparedSquare s;
    object& o = *s.obj;
    lookAtSquare();

    // No term chosen: nothing recomputed, nothing uploaded.
    std::vector<uint8_t> uploaded = textureBytes(o.lightmapTextureId, 13, 7);
    std::memset(o.finalBitmap->pixels.get(), 9, o.finalBitmap->byteCount());
    drawTextureSpaceLit(&o, {0, 0, 0}, &s.lamp, vector(0, 0, 5), colour(100, 100, 100, 255));
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 13, 7), uploaded);

    // Only the diffuse term: it follows the light; ambient and specular keep their contents.
    std::vector<uint8_t> ambient = bitmapBytes(*o.ambientBitmap);
    std::vector<uint8_t> diffuse = bitmapBytes(*o.diffuseBitmap);
    s.lamp.setPosition(vector(-0.5, 0.5, 1));
    drawTextureSpaceLit(&o, {0, 1, 0}, &s.lamp, vector(0, 0, 5), colour(100, 100, 100, 255));
    EXPECT_NE(bitmapBytes(*o.diffuseBitmap), diffuse);
    EXPECT_EQ(bitmapBytes(*o.ambientBitmap), ambient);
    for (size_t i = 0; i < o.specularBitmap->byteCount(); ++i)
        ASSERT_EQ(o.specularBitmap->pixels[i], 0);
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 13, 7), bitmapBytes(*o.finalBitmap));
}

TEST(textureSpaceDrawing, sendsOnlyTheRowsThatChanged)
{
    REQUIRE_GL();
    preparedSquare s(16, 40);
    object& o = *s.obj;
    lookAtSquare();
    const vector eye(0, 0, 5);
    drawTextureSpaceLit(&o, {0, 1, 0}, &s.lamp, eye, colour(100, 100, 100, 255));
    ASSERT_EQ(textureBytes(o.lightmapTextureId, 16, 40), bitmapBytes(*o.finalBitmap));

    // Mark rows 3 and 30 of the texture only. Relighting that changes no byte sends nothing,
    // so the marks stay.
    std::vector<uint8_t> mark(16 * 3, 77);
    glBindTexture(GL_TEXTURE_2D, o.lightmapTextureId);
    for (int row : {3, 30})
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, 16, 1, GL_RGB, GL_UNSIGNED_BYTE, mark.data());
    std::vector<uint8_t> marked = textureBytes(o.lightmapTextureId, 16, 40);
    drawTextureSpaceLit(&o, {0, 1, 0}, &s.lamp, eye, colour(100, 100, 100, 255));
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 16, 40), marked);

    // Rows 0 to 9 of the lightmap spoilt: relighting mends them and sends rows 0 to 9, so
    // the mark in row 3 goes and the one in row 30 stays.
    std::memset(o.finalBitmap->pixels.get(), 5, 16 * 3 * 10);
    drawTextureSpaceLit(&o, {0, 1, 0}, &s.lamp, eye, colour(100, 100, 100, 255));
    std::vector<uint8_t> expected = bitmapBytes(*o.finalBitmap);
    std::copy(mark.begin(), mark.end(), expected.begin() + 16 * 3 * 30);
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 16, 40), expected);

    // The light moves and every row changes, the marked one too: all are sent.
    s.lamp.setPosition(vector(-0.7, 0.6, 1.5));
    drawTextureSpaceLit(&o, {1, 1, 1}, &s.lamp, eye, colour(100, 100, 100, 255));
    EXPECT_EQ(textureBytes(o.lightmapTextureId, 16, 40), bitmapBytes(*o.finalBitmap));
}

TEST(textureSpaceDrawing, showsTheLightmapOnScreen)
{
    REQUIRE_GL();
    preparedSquare s(16, 16);
    object& o = *s.obj;
    // A uniform lightmap, so that filtering cannot blur what is checked.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            o.finalBitmap->setPixel(x, y, colour(180, 60, 20, 255));
    glBindTexture(GL_TEXTURE_2D, o.lightmapTextureId);
    uploadTexture(*o.finalBitmap);

    lookAtSquare();
    drawTextureSpaceLit(&o, {0, 0, 0}, &s.lamp, vector(0, 0, 5), colour(100, 100, 100, 255));
    std::vector<uint8_t> centre = screenPixel(32, 32);
    EXPECT_NEAR(centre[0], 180, 1);
    EXPECT_NEAR(centre[1], 60, 1);
    EXPECT_NEAR(centre[2], 20, 1);

    // An object that is not visible is not drawn.
    lookAtSquare();
    o.visible = 0;
    drawTextureSpaceLit(&o, {0, 1, 0}, &s.lamp, vector(0, 0, 5), colour(100, 100, 100, 255));
    drawWithMaterials(&o);
    EXPECT_EQ(screenPixel(32, 32), std::vector<uint8_t>({0, 0, 255}));
    EXPECT_EQ(o.finalBitmap->pixelAt(3, 3), colour(180, 60, 20, 255)); // no relighting either
}

TEST(materialDrawing, textureStateAndMaterial)
{
    REQUIRE_GL();
    preparedSquare plain;
    lookAtSquare();
    glEnable(GL_TEXTURE_2D);
    drawWithMaterials(plain.obj.get());
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat shininess = 0;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    EXPECT_EQ(shininess, 100.0f);
    GLfloat diffuse[4];
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    EXPECT_FLOAT_EQ(diffuse[0], 200 / 255.0f);
    EXPECT_EQ(diffuse[3], 1.0f);

    auto checker = std::make_unique<bitmap>(2, 2, 3);
    for (int i = 0; i < 12; ++i)
        checker->pixels[i] = (i / 3 == 0 || i / 3 == 3) ? 255 : 0;
    preparedSquare textured(8, 8, std::move(checker));
    drawWithMaterials(textured.obj.get());
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<unsigned>(bound), textured.obj->colourTextureId);
}

TEST(materialDrawing, mirroredTextureIslandKeepsItsOrientation)
{
    REQUIRE_GL();
    // u runs right to left, so both texture triangles are clockwise.
    const char mirrored[] =
        "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
        "vt 1 0\nvt 0 0\nvt 0 1\nvt 1 1\n"
        "vn 0 0 1\n"
        "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";
    // Texture columns 0-3 red, 4-7 green.
    auto halves = std::make_unique<bitmap>(8, 1, 3);
    for (int x = 0; x < 8; ++x)
        halves->setPixel(x, 0, x < 4 ? colour(255, 0, 0, 255) : colour(0, 255, 0, 255));
    consoleCapture quiet;
    std::unique_ptr<object> obj = parseObject(mirrored, sizeof mirrored - 1, "mirrored.obj", 8, 8);
    ASSERT_TRUE(obj);
    obj->setColourMap(std::move(halves));
    pointlight lamp;
    preparationSettings settings;
    settings.lights = &lamp;
    prepareObject(obj.get(), colour(255, 255, 255, 255), colour(255, 255, 255, 255),
                  colour(0, 0, 0, 255), settings);
    lookAtSquare();
    drawWithMaterials(obj.get());
    // Screen left shows the texture's right half, in both triangles.
    for (int x : {8, 24, 40, 56})
        for (int y : {8, 24, 40, 56}) {
            std::vector<uint8_t> p = screenPixel(x, y);
            bool greenSide = x < 32;
            EXPECT_GT(greenSide ? p[1] : p[0], 200) << x << ", " << y;
            EXPECT_LT(greenSide ? p[0] : p[1], 60) << x << ", " << y;
        }
}

TEST(lightMarker, sphereInTheLightColour)
{
    REQUIRE_GL();
    lookAtSquare();
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 0));
    lamp.setColour(colour(255, 128, 0, 255));
    lamp.drawMarker();
    std::vector<uint8_t> centre = screenPixel(32, 32);
    EXPECT_NEAR(centre[0], 255, 1);
    EXPECT_NEAR(centre[1], 128, 1);
    EXPECT_NEAR(centre[2], 0, 1);
    EXPECT_EQ(screenPixel(2, 2), std::vector<uint8_t>({0, 0, 255})); // radius 0.5 of the 2-wide view
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}
