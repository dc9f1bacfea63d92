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

// A floor wider than the view at y = 0 facing up, and a small triangle hovering at y = 2, facing up.
struct floorScene {
    vector offset;
    std::unique_ptr<object> ground;
    std::unique_ptr<object> occluder;

    explicit floorScene(vector at) : offset(at)
    {
        ground = withEdges({triangle(at + vector(-6, 0, 6), at + vector(6, 0, 6), at + vector(6, 0, -6)),
                            triangle(at + vector(-6, 0, 6), at + vector(6, 0, -6), at + vector(-6, 0, -6))});
        occluder = withEdges({triangle(at + vector(-0.5, 2, -0.5), at + vector(0, 2, 0.5),
                                       at + vector(0.5, 2, -0.5))});
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

namespace {

void addQuadrilateral(std::vector<polygon>& polys, vector a, vector b, vector c, vector d)
{
    polys.push_back(triangle(a, b, c));
    polys.push_back(triangle(a, c, d));
}

// The square [-r, r] x [-r, r] at height y, facing up or down, with a square hole of half-size
// hole in it when hole > 0.
std::vector<polygon> square(double y, double r, bool up, double hole = 0)
{
    std::vector<polygon> polys;
    const vector o[4] = {{-r, y, -r}, {-r, y, r}, {r, y, r}, {r, y, -r}};
    const vector h[4] = {{-hole, y, -hole}, {-hole, y, hole}, {hole, y, hole}, {hole, y, -hole}};
    for (int k = 0; k < 4 && hole > 0; ++k)
        addQuadrilateral(polys, o[k], o[(k + 1) % 4], h[(k + 1) % 4], h[k]);
    if (hole <= 0)
        addQuadrilateral(polys, o[0], o[1], o[2], o[3]);
    if (!up)
        for (polygon& p : polys)
            p = triangle(p.position[0], p.position[2], p.position[1]);
    return polys;
}

// The box [-1, 1] x [1.5, 2.5] x [-1, 1] wound outwards, without its bottom or with a hole in it.
std::vector<polygon> hoveringBox(bool holeInBottom)
{
    std::vector<polygon> polys;
    for (const polygon& p : testmeshes::box({-1, 1.5, -1}, {1, 2.5, 1}))
        if (p.faceNormal.y != -1)
            polys.push_back(p);
    if (holeInBottom)
        for (const polygon& p : square(1.5, 1, false, 0.6))
            polys.push_back(p);
    return polys;
}

struct camera {
    vector eye;
    vector at;
    vector up = vector(0, 1, 0);
    double fieldOfView = 0; // degrees; 0 for an orthographic view halfView across
    double nearPlane = 0.1;
};

void look(const camera& c)
{
    glViewport(0, 0, size, size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (c.fieldOfView > 0)
        gluPerspective(c.fieldOfView, 1, c.nearPlane, 40);
    else
        glOrtho(-halfView, halfView, -halfView, halfView, c.nearPlane, 40);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(c.eye.x, c.eye.y, c.eye.z, c.at.x, c.at.y, c.at.z, c.up.x, c.up.y, c.up.z);
}

struct pixelCheck {
    int shadowed = 0, lit = 0, wrong = 0;
};

// Draws the objects as their mesh lists send them, each in a red of its own, with their backs
// culled or not; lets a light at lightAt count its volumes as the passes do; and compares the
// stencil with the volumes worked out on paper: a pixel is in shadow when a triangle facing the
// light lies between the light and the point it shows, taken a hair towards the eye. Pixels
// within two of another object or of another answer are not judged.
pixelCheck shadowsSeenFrom(const std::vector<object*>& objects, vector lightAt, const camera& c, bool cullBack = false)
{
    look(c);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    cullBack ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glBegin(GL_TRIANGLES);
    for (size_t i = 0; i < objects.size(); ++i) {
        glColor3ub(static_cast<GLubyte>(i + 1), 0, 0);
        for (const polygon& p : objects[i]->polygons)
            for (const vector& v : p.position)
                glVertex3f(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
    }
    glEnd();
    pointlight lamp;
    lamp.setPosition(lightAt);
    std::vector<object*> list = objects;
    lamp.drawShadowVolumes(list.data(), static_cast<int>(list.size()));
    glFinish();

    std::vector<uint8_t> stencil = readStencil();
    std::vector<float> depth = readPixels<float>(GL_DEPTH_COMPONENT, GL_FLOAT, 1);
    std::vector<uint8_t> colour = readPixels<uint8_t>(GL_RGB, GL_UNSIGNED_BYTE, 3);
    look(c);
    GLdouble model[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    std::vector<int> expected(size * size, -1); // -1 for none or unsure
    for (int k = 0; k < size * size; ++k) {
        GLdouble x, y, z;
        if (depth[k] >= 1.0f || !gluUnProject(k % size + 0.5, k / size + 0.5, depth[k], model, projection, viewport, &x, &y, &z))
            continue;
        const vector seen(x, y, z);
        const vector point = seen + (c.fieldOfView > 0 ? normalised(c.eye - seen) : normalised(c.eye - c.at)) * 1e-3;
        bool unsure = false;
        int n = 0;
        for (const object* obj : objects)
            for (const polygon& p : obj->polygons) {
                const vector e1 = p.position[1] - p.position[0], e2 = p.position[2] - p.position[0];
                const vector d = point - lightAt, s = lightAt - p.position[0], h = cross(d, e2), q = cross(s, e1);
                const double det = dot(e1, h);
                if (!(dot(p.faceNormal, lightAt - p.position[0]) > 0) || std::fabs(det) < 1e-14)
                    continue;
                const double nearest = std::min({dot(s, h) / det, dot(d, q) / det, 1 - (dot(s, h) + dot(d, q)) / det,
                                                 dot(e2, q) / det, 1 - dot(e2, q) / det});
                unsure = unsure || std::fabs(nearest) < 1e-6;
                n += nearest > 0;
            }
        expected[k] = unsure ? -1 : n > 0;
    }
    pixelCheck out;
    for (int j = 2; j < size - 2; ++j)
        for (int i = 2; i < size - 2; ++i) {
            const int k = j * size + i;
            bool judged = expected[k] >= 0;
            for (int n = (j - 2) * size + i - 2; judged && n <= (j + 2) * size + i + 2; n += (n % size == i + 2) ? size - 4 : 1)
                judged = expected[n] == expected[k] && colour[3 * n] == colour[3 * k];
            if (!judged)
                continue;
            (expected[k] ? out.shadowed : out.lit)++;
            out.wrong += (stencil[k] != 0) != (expected[k] == 1);
        }
    return out;
}

} // namespace

TEST_F(shadowVolumes, openBoxCastsAFilledRectangle)
{
    // Under a light at (0,6,0) the top's rim throws the square of half-size 6 / 3.5 = 1.71 onto
    // the floor; nothing lights its middle, whether the box has no bottom or a hole in it.
    auto floor = withEdges(square(0, 8, true));
    const vector lightAt(0, 6, 0);
    for (bool holeInBottom : {false, true}) {
        auto box = withEdges(hoveringBox(holeInBottom));
        const std::vector<object*> objects = {floor.get(), box.get()};
        // From straight above the box hides the middle; the band around it is dark throughout.
        const camera above{{0, 10, 0}, {0, 0, 0}, {0, 0, -1}, 0, 1};
        pixelCheck top = shadowsSeenFrom(objects, lightAt, above);
        EXPECT_GT(top.shadowed, 100);
        EXPECT_EQ(top.wrong, 0);
        // From low beside it, under the box.
        const camera beside{{0.3, 1.3, 3.6}, {0, 0, 0}, {0, 1, 0}, 75};
        pixelCheck low = shadowsSeenFrom(objects, lightAt, beside);
        EXPECT_GT(low.shadowed, 500);
        EXPECT_GT(low.lit, 500);
        EXPECT_EQ(low.wrong, 0);
    }
}

TEST_F(shadowVolumes, lightThroughAHoleLightsTheFloorInItsShape)
{
    // A plate of half-size 2 at height 2 with a hole of half-size 0.6, the light at (0,6,0):
    // the floor is lit in the square of half-size 0.9 and shadowed out to 3. Seen from between
    // plate and floor, in the light through the hole, and from above.
    auto floor = withEdges(square(0, 8, true));
    auto plate = withEdges(square(2, 2, true, 0.6));
    const std::vector<object*> objects = {floor.get(), plate.get()};
    const vector lightAt(0, 6, 0);
    const camera beneath{{0.2, 1.5, 0.3}, {0.1, 0, 0}, {0, 0, -1}, 100};
    pixelCheck seen = shadowsSeenFrom(objects, lightAt, beneath);
    EXPECT_GT(seen.shadowed, 1000);
    EXPECT_GT(seen.lit, 500);
    EXPECT_EQ(seen.wrong, 0);
    pixelCheck top = shadowsSeenFrom(objects, lightAt, camera{{0, 10, 0}, {0, 0, 0}, {0, 0, -1}, 0, 1});
    EXPECT_GT(top.lit, 1000);
    EXPECT_EQ(top.wrong, 0);
}

TEST_F(shadowVolumes, eyeInsideAVolumeSeesTheShadowTheRightWayRound)
{
    // Under the bottomless box, in its shadow: the floor nearby is dark and beyond the
    // shadow's edge lit, not the other way round; inside, the box is in its own shadow.
    auto floor = withEdges(square(0, 8, true));
    auto box = withEdges(hoveringBox(false));
    const std::vector<object*> objects = {floor.get(), box.get()};
    const vector lightAt(0, 6, 0);
    for (const camera& under : {camera{{0.3, 0.7, -0.2}, {4, 0, 1}, {0, 1, 0}, 70},
                                camera{{-0.2, 1.2, 0.3}, {-3, 0, -2}, {0, 1, 0}, 80, 0.5}}) {
        pixelCheck seen = shadowsSeenFrom(objects, lightAt, under);
        EXPECT_GT(seen.shadowed, 500);
        EXPECT_GT(seen.lit, 500);
        EXPECT_EQ(seen.wrong, 0);
    }
    pixelCheck inside = shadowsSeenFrom(objects, lightAt, camera{{0.1, 0.6, 0.2}, {0, 3, 0}, {0, 0, -1}, 90});
    EXPECT_GT(inside.shadowed, 3000);
    EXPECT_EQ(inside.wrong, 0);
}

TEST_F(shadowVolumes, volumeEndsAtATriangleThatCullingHides)
{
    // From under a plate, in its shadow, looking up past it at a ceiling the light reaches:
    // culling drops the plate's back, and the ceiling seen through it stays lit.
    auto plate = withEdges(square(2, 1.5, true));
    auto ceiling = withEdges(square(5, 8, false));
    const camera under{{0.1, 1, 0.2}, {0.3, 5, 0.1}, {0, 0, -1}, 100};
    pixelCheck seen = shadowsSeenFrom({plate.get(), ceiling.get()}, vector(0.2, 3, 0.1), under, true);
    EXPECT_GT(seen.lit, 3000);
    EXPECT_EQ(seen.wrong, 0);
}

TEST_F(shadowVolumes, countingWithCapsLeavesTheStateOfCountingWithout)
{
    floorScene scene(vector(0, 0, 0));
    scene.draw();
    shadowVolumeSet volumes;
    volumes.entries.resize(1);
    volumes.entries[0].count = 4;
    for (int i = 0; i < 4; ++i) {
        volumes.entries[0].u[i] = i == 1 || i == 2 ? 1 : -1;
        volumes.entries[0].v[i] = i < 2 ? -1 : 1;
    }
    glEnable(GL_POLYGON_OFFSET_FILL); // as the outline pass leaves it
    glPolygonOffset(1.0f, 2.0f);
    glDisable(GL_CULL_FACE);
    drawShadowVolumesWithCaps(volumes, {&scene.occluder->polygons[0]});
    glFinish();
    GLfloat factor = 0, units = 0;
    glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &factor);
    glGetFloatv(GL_POLYGON_OFFSET_UNITS, &units);
    EXPECT_TRUE(glIsEnabled(GL_POLYGON_OFFSET_FILL) && factor == 1.0f && units == 2.0f);
    GLint cull = 0, op = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &op);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE) && glIsEnabled(GL_DEPTH_TEST) && cull == GL_FRONT && op == GL_DECR);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    // The whole window starts in one volume; the cap, pushed behind its lit occluder, counts
    // nowhere.
    for (uint8_t s : readStencil())
        ASSERT_EQ(s, 1);
    glDisable(GL_POLYGON_OFFSET_FILL);
}
