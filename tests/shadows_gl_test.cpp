#include "lights/pointlight.h"
#include "lights/shadowvolume.h"
#include "mesh/object.h"
#include "tests/glcontext.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using testmeshes::triangle;
using testmeshes::withEdges;

namespace {

const int size = 64;      // the test window
const double halfView = 4; // world units from the view centre to the window's edge

// A floor wider than the view at y = 0 facing up, and a small triangle hovering at y = 2.
struct floorScene {
    vector offset;
    std::unique_ptr<object> ground;
    std::unique_ptr<object> occluder;

    explicit floorScene(vector at) : offset(at)
    {
        ground = withEdges({triangle(at + vector(-6, 0, 6), at + vector(6, 0, 6), at + vector(6, 0, -6)),
                            triangle(at + vector(-6, 0, 6), at + vector(6, 0, -6), at + vector(-6, 0, -6))});
        occluder = withEdges({triangle(at + vector(-0.5, 2, -0.5), at + vector(0.5, 2, -0.5),
                                       at + vector(0, 2, 0.5))});
    }

    // A shadow-free frame of the floor and occluder seen from straight above, with depth.
    void draw() const
    {
        glViewport(0, 0, size, size);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-halfView, halfView, -halfView, halfView, 1, 20);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        // Screen x is world x, screen up is world -z.
        gluLookAt(offset.x, offset.y + 10, offset.z, offset.x, offset.y, offset.z, 0, 0, -1);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_CULL_FACE);
        glDisable(GL_STENCIL_TEST);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_TRUE);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(0, 0, 0, 1);
        glClearStencil(0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glBegin(GL_TRIANGLES);
        for (const object* obj : {ground.get(), occluder.get()}) {
            glColor3f(obj == ground.get() ? 0.8f : 0.3f, 0.6f, 0.4f);
            for (const polygon& p : obj->polygons)
                for (const vector& c : p.position)
                    glVertex3d(c.x, c.y, c.z);
        }
        glEnd();
    }

    // The floor point seen at the centre of pixel (i, j).
    vector floorAt(int i, int j) const
    {
        double step = 2 * halfView / size;
        return offset + vector(-halfView + (i + 0.5) * step, 0, halfView - (j + 0.5) * step);
    }
};

std::vector<uint8_t> readStencil()
{
    std::vector<uint8_t> s(size * size);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, s.data());
    return s;
}

template <typename T>
std::vector<T> readPixels(GLenum format, GLenum type, int components)
{
    std::vector<T> out(size * size * components);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, format, type, out.data());
    return out;
}

// Signed distance of p from the line a-b in the x-z plane (y is ignored).
double side(vector p, vector a, vector b)
{
    vector d = b - a;
    return (d.x * (p.z - a.z) - d.z * (p.x - a.x)) / std::sqrt(d.x * d.x + d.z * d.z);
}

// How far inside (positive) or outside (negative) the triangle a, b, c the point p lies,
// in the x-z plane.
double insideBy(vector p, vector a, vector b, vector c)
{
    double winding = side(c, a, b) > 0 ? 1 : -1;
    return std::min({winding * side(p, a, b), winding * side(p, b, c), winding * side(p, c, a)});
}

// Where a point is thrown onto the floor (y = offset.y) by a light at l.
vector onFloor(vector p, vector l, double floorY)
{
    return l + (p - l) * ((l.y - floorY) / (l.y - p.y));
}

struct counts {
    int shadowed = 0, lit = 0, wrong = 0;
};

// Compares the stencil with the occluder's shadow worked out on paper; pixels within a pixel
// and a half of the shadow's border are not judged.
counts checkStencil(const floorScene& scene, vector lightAt)
{
    std::vector<uint8_t> stencil = readStencil();
    const polygon& o = scene.occluder->polygons[0];
    vector a = onFloor(o.position[0], lightAt, scene.offset.y);
    vector b = onFloor(o.position[1], lightAt, scene.offset.y);
    vector c = onFloor(o.position[2], lightAt, scene.offset.y);
    const double margin = 1.5 * 2 * halfView / size;
    counts n;
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i) {
            double inside = insideBy(scene.floorAt(i, j), a, b, c);
            if (std::fabs(inside) < margin)
                continue;
            int expected = inside > 0 ? 1 : 0;
            (expected ? n.shadowed : n.lit)++;
            if (stencil[j * size + i] != expected)
                n.wrong++;
        }
    return n;
}

class shadowVolumes : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_GL();
        GLint bits = 0;
        glGetIntegerv(GL_STENCIL_BITS, &bits);
        ASSERT_GE(bits, 1) << "the window has no stencil buffer";
    }
    void TearDown() override
    {
        glDisable(GL_STENCIL_TEST);
        glDisable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        glColor4f(1, 1, 1, 1);
    }
};

} // namespace

TEST_F(shadowVolumes, stencilMarksTheOccludersShadowOnTheFloor)
{
    floorScene scene(vector(0, 0, 0));
    scene.draw();
    std::vector<uint8_t> colourBefore = readPixels<uint8_t>(GL_RGB, GL_UNSIGNED_BYTE, 3);
    std::vector<float> depthBefore = readPixels<float>(GL_DEPTH_COMPONENT, GL_FLOAT, 1);

    pointlight lamp;
    lamp.setPosition(vector(3, 5, 0)); // off to the side, so the shadow falls clear of the occluder
    object* objects[] = {scene.ground.get(), scene.occluder.get()};
    lamp.drawShadowVolumes(objects, 2);
    glFinish();

    counts n = checkStencil(scene, lamp.position);
    EXPECT_GT(n.shadowed, 25);
    EXPECT_GT(n.lit, 3000);
    EXPECT_EQ(n.wrong, 0);

    // The centre of the shadow, and the occluder itself seen from above, which is lit.
    std::vector<uint8_t> stencil = readStencil();
    EXPECT_EQ(stencil[34 * size + 16], 1); // floor point (-1.94, 0, -0.31)
    EXPECT_EQ(stencil[33 * size + 32], 0); // the occluder
    // The volumes write neither colour nor depth.
    EXPECT_EQ(readPixels<uint8_t>(GL_RGB, GL_UNSIGNED_BYTE, 3), colourBefore);
    EXPECT_EQ(readPixels<float>(GL_DEPTH_COMPONENT, GL_FLOAT, 1), depthBefore);
}

TEST_F(shadowVolumes, sceneFarFromTheOriginIsShadowedToo)
{
    // Volumes reaching only 1000 units from the world origin would point back past the light here.
    vector at(3000, 0, 2000);
    floorScene scene(at);
    scene.draw();
    pointlight lamp;
    lamp.setPosition(at + vector(3, 5, 0));
    object* objects[] = {scene.ground.get(), scene.occluder.get()};
    lamp.drawShadowVolumes(objects, 2);
    glFinish();

    counts n = checkStencil(scene, lamp.position);
    EXPECT_GT(n.shadowed, 25);
    EXPECT_GT(n.lit, 3000);
    EXPECT_EQ(n.wrong, 0);
}

TEST_F(shadowVolumes, lightStraightAboveShadowsTheRingAroundTheOccluder)
{
    // From straight above the occluder hides the middle of its own shadow; the rest of the
    // shadow, wider than the occluder, must be counted once.
    floorScene scene(vector(0, 0, 0));
    scene.draw();
    pointlight lamp;
    lamp.setPosition(vector(0, 3, 0));
    object* objects[] = {scene.ground.get(), scene.occluder.get()};
    lamp.drawShadowVolumes(objects, 2);
    glFinish();

    std::vector<uint8_t> stencil = readStencil();
    const polygon& o = scene.occluder->polygons[0];
    vector a = onFloor(o.position[0], lamp.position, 0), b = onFloor(o.position[1], lamp.position, 0),
           c = onFloor(o.position[2], lamp.position, 0);
    const double margin = 1.5 * 2 * halfView / size;
    int ring = 0, wrong = 0;
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i) {
            vector p = scene.floorAt(i, j);
            double inShadow = insideBy(p, a, b, c);
            double underOccluder = insideBy(p, o.position[0], o.position[1], o.position[2]);
            if (std::fabs(inShadow) < margin || std::fabs(underOccluder) < margin)
                continue;
            int expected = inShadow > 0 && underOccluder < 0 ? 1 : 0;
            ring += expected;
            wrong += stencil[j * size + i] != expected;
        }
    EXPECT_GT(ring, 50);
    EXPECT_EQ(wrong, 0);
}

TEST_F(shadowVolumes, noObjectsStillLeavesTheStencilState)
{
    floorScene scene(vector(0, 0, 0));
    scene.draw();
    // Start from a state the call must change.
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glStencilFunc(GL_EQUAL, 3, 0x0f);
    glStencilOp(GL_ZERO, GL_ZERO, GL_ZERO);
    glColor3f(0.5f, 0.25f, 1.0f);

    pointlight lamp;
    lamp.drawShadowVolumes(nullptr, 0);
    glFinish();

    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    GLint v = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &v);
    EXPECT_EQ(v, GL_FRONT);
    glGetIntegerv(GL_STENCIL_FUNC, &v);
    EXPECT_EQ(v, GL_ALWAYS);
    glGetIntegerv(GL_STENCIL_REF, &v);
    EXPECT_EQ(v, 1);
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &v);
    EXPECT_EQ(v & 0xff, 0xff);
    glGetIntegerv(GL_STENCIL_FAIL, &v);
    EXPECT_EQ(v, GL_KEEP);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &v);
    EXPECT_EQ(v, GL_KEEP);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &v);
    EXPECT_EQ(v, GL_DECR);
    GLboolean mask[4] = {GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    for (GLboolean m : mask)
        EXPECT_EQ(m, GL_TRUE);
    GLboolean depthMask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_EQ(depthMask, GL_TRUE);
    float current[4] = {1, 1, 1, 1};
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(current[0], 0.0f);
    EXPECT_EQ(current[1], 0.0f);
    EXPECT_EQ(current[2], 0.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    for (uint8_t s : readStencil())
        ASSERT_EQ(s, 0);
}

TEST_F(shadowVolumes, objectsWithoutEdgesCastNothing)
{
    floorScene scene(vector(0, 0, 0));
    scene.draw();
    object bare(0, 0);
    bare.polygons = scene.occluder->polygons; // no edge list
    bare.polygonCount = 1;
    object* objects[] = {&bare};
    pointlight lamp;
    lamp.setPosition(vector(3, 5, 0));
    lamp.drawShadowVolumes(objects, 1);
    glFinish();
    for (uint8_t s : readStencil())
        ASSERT_EQ(s, 0);
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
}
