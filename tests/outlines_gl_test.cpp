#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/outlines.h"
#include "tests/glcontext.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>

using testmeshes::triangle;
using testmeshes::withEdges;

namespace {

const int size = 64;

// A triangle facing +z filling most of the window, in a brick-red material.
std::unique_ptr<object> litTriangle()
{
    auto obj = withEdges({triangle({-0.8, -0.8, 0}, {0.8, -0.8, 0}, {0, 0.8, 0})});
    obj->diffuseTexture.uniform = std::make_unique<colour>(240, 150, 90, 255);
    obj->ambientTexture.uniform = std::make_unique<colour>(0, 0, 0, 255);
    obj->specularTexture.uniform = std::make_unique<colour>(0, 0, 0, 255);
    return obj;
}

// Orthographic view down -z with one white GL light at lightAt and no ambient light.
void setUpView(vector lightAt)
{
    glViewport(0, 0, size, size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glLineWidth(1.0f);
    glShadeModel(GL_FLAT);
    glEnable(GL_LIGHT0);
    const float white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
    const float position[4] = {static_cast<float>(lightAt.x), static_cast<float>(lightAt.y),
                               static_cast<float>(lightAt.z), 1};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, black);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

std::array<int, 3> pixel(int x, int y)
{
    uint8_t rgb[3] = {0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    return {rgb[0], rgb[1], rgb[2]};
}

void expectColour(std::array<int, 3> got, std::array<int, 3> want, int tolerance, const char* where)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_LE(std::abs(got[i] - want[i]), tolerance)
            << where << ": (" << got[0] << ", " << got[1] << ", " << got[2] << ")";
}

const std::array<int, 3> outline = {80, 50, 30}; // a third of the diffuse colour
const std::array<int, 3> background = {0, 0, 255};

class litOutlines : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_GL(); }
    void TearDown() override
    {
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glDisable(GL_CULL_FACE);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDepthFunc(GL_LESS);
        glLineWidth(1.0f);
        glColor4f(1, 1, 1, 1);
    }
};

} // namespace

TEST_F(litOutlines, facingTriangleIsFullyLitAndOutlinedInAThirdOfItsColour)
{
    auto obj = litTriangle();
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 5));
    setUpView(lamp.position);
    drawLitWithOutlines(obj.get(), vector(0, 0, 5), &lamp);
    glFinish();

    // Bent towards the light, every corner gets the full diffuse term.
    expectColour(pixel(32, 28), {240, 150, 90}, 3, "inside");
    expectColour(pixel(32, 6), outline, 1, "bottom edge");
    expectColour(pixel(19, 32), outline, 1, "left edge");
    expectColour(pixel(44, 32), outline, 1, "right edge");
    expectColour(pixel(3, 60), background, 0, "outside");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(litOutlines, triangleFacingAwayDrawsOnlyItsEdges)
{
    auto obj = litTriangle();
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 5));
    setUpView(lamp.position);
    drawLitWithOutlines(obj.get(), vector(0, 0, -5), &lamp);
    glFinish();

    EXPECT_EQ(obj->polygons[0].facing, 0);
    expectColour(pixel(32, 28), background, 0, "inside");
    expectColour(pixel(32, 6), outline, 1, "bottom edge");
    expectColour(pixel(19, 32), outline, 1, "left edge");
}

TEST_F(litOutlines, stateOnReturn)
{
    auto obj = litTriangle();
    pointlight lamp;
    lamp.setPosition(vector(0, 0, 5));
    setUpView(lamp.position);
    glEnable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    drawLitWithOutlines(obj.get(), vector(0, 0, 5), &lamp);

    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_POLYGON_OFFSET_FILL));
    float value = 0;
    glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &value);
    EXPECT_EQ(value, 1.0f);
    glGetFloatv(GL_POLYGON_OFFSET_UNITS, &value);
    EXPECT_EQ(value, 2.0f);
    glGetFloatv(GL_LINE_WIDTH, &value);
    EXPECT_EQ(value, 2.0f);
    GLint v = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &v);
    EXPECT_EQ(v, GL_LEQUAL);
    glGetIntegerv(GL_SHADE_MODEL, &v);
    EXPECT_EQ(v, GL_SMOOTH);
    float current[4] = {0, 0, 0, 0};
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_FLOAT_EQ(current[0], static_cast<float>(240 / 255.0 / 3));
    EXPECT_FLOAT_EQ(current[1], static_cast<float>(150 / 255.0 / 3));
    EXPECT_FLOAT_EQ(current[2], static_cast<float>(90 / 255.0 / 3));
    float diffuse[4] = {0, 0, 0, 0};
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    EXPECT_FLOAT_EQ(diffuse[0], static_cast<float>(240 / 255.0));
    EXPECT_FLOAT_EQ(diffuse[3], 1.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(litOutlines, lightBehindLeavesTheSurfaceDark)
{
    // Bent away from a light behind the surface, the corners get no diffuse light.
    auto obj = litTriangle();
    pointlight lamp;
    lamp.setPosition(vector(0, 0, -5));
    setUpView(lamp.position);
    drawLitWithOutlines(obj.get(), vector(0, 0, 5), &lamp);
    glFinish();
    expectColour(pixel(32, 28), {0, 0, 0}, 3, "inside");
    expectColour(pixel(32, 6), outline, 1, "bottom edge");
}
