#include "core/console.h"
#include "lights/spotlight.h"
#include "mesh/object.h"
#include "tests/glcontext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const int mapSize = 256; // the default depth map
const float farDepth = 65535.0f / 65536.0f;

// A window as large as the default depth map, with a context of its own so that these tests
// neither see nor leave state in the shared one. Current while the guard lives.
class depthWindow {
public:
    depthWindow()
    {
        previous = glutGetWindow();
        static const int id = [] {
            glutInitWindowSize(mapSize, mapSize);
            int made = glutCreateWindow("spotlight");
            glutInitWindowSize(64, 64);
            return made;
        }();
        glutSetWindow(id);
        glDisable(GL_LIGHTING);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    ~depthWindow()
    {
        if (previous)
            glutSetWindow(previous);
    }
    depthWindow(const depthWindow&) = delete;
    depthWindow& operator=(const depthWindow&) = delete;

private:
    int previous = 0;
};

// The tern_depth light: at (0, 0, -2), aimed at the origin.
void aimAtOrigin(spotlight& s)
{
    s.setPosition(vector(0, 0, -2));
    s.setDirection(vector(0, 0, 2));
    s.setColour(colour(200, 200, 200, 255));
}

// A matrix from its mathematical rows, stored column-major.
matrix fromRows(const double rows[4][4])
{
    matrix m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[4 * c + r] = rows[r][c];
    return m;
}

void expectNear(const matrix& got, const matrix& want, double tolerance, const char* what)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(got[i], want[i], tolerance) << what << " element " << i;
}

struct homogeneous {
    double x, y, z, w;
};

// The column-major matrix applied to the point (x, y, z, 1).
homogeneous apply(const matrix& m, vector p)
{
    double in[4] = {p.x, p.y, p.z, 1.0};
    double out[4];
    for (int r = 0; r < 4; ++r) {
        out[r] = 0;
        for (int c = 0; c < 4; ++c)
            out[r] += m[4 * c + r] * in[c];
    }
    return {out[0], out[1], out[2], out[3]};
}

// A quad drawn through a display list, as an object's mesh is.
struct quadObject {
    object obj{0, 0};
    vector corners[4];

    quadObject(vector a, vector b, vector c, vector d) : corners{a, b, c, d}
    {
        obj.meshList = glGenLists(1);
        glNewList(obj.meshList, GL_COMPILE);
        glBegin(GL_QUADS);
        for (const vector& v : corners)
            glVertex3d(v.x, v.y, v.z);
        glEnd();
        glEndList();
    }
    ~quadObject() { glDeleteLists(obj.meshList, 1); }
    quadObject(const quadObject&) = delete;
    quadObject& operator=(const quadObject&) = delete;
};

std::vector<double> currentMatrix(GLenum which)
{
    std::vector<double> m(16);
    glGetDoublev(which, m.data());
    return m;
}

} // namespace

TEST(spotlightDepthMap, noObjectsGivesTheClearedDepthEverywhere)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    consoleCapture quiet;
    s.buildDepthMap(nullptr, 0);
    ASSERT_NE(s.depthMap, nullptr);
    int wrong = 0;
    for (int i = 0; i < mapSize * mapSize; ++i)
        wrong += s.depthMap[i] != farDepth;
    EXPECT_EQ(wrong, 0);
    EXPECT_FLOAT_EQ(farDepth, 0.9999847f);
    EXPECT_EQ(s.maxDepth, static_cast<double>(farDepth));
    EXPECT_EQ(s.minDepth, 0.0);
}

TEST(spotlightDepthMap, stateOnReturn)
{
    REQUIRE_GL();
    depthWindow window;
    glViewport(3, 4, 50, 60);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3, 3, -2, 2, 1, 9);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(1, 2, 3);
    glRotated(30, 0, 1, 0);
    const std::vector<double> projection = currentMatrix(GL_PROJECTION_MATRIX);
    const std::vector<double> modelview = currentMatrix(GL_MODELVIEW_MATRIX);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glMatrixMode(GL_PROJECTION); // the caller's mode is not kept

    spotlight s;
    aimAtOrigin(s);
    consoleCapture quiet;
    s.buildDepthMap(nullptr, 0);

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(currentMatrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(currentMatrix(GL_MODELVIEW_MATRIX), modelview);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], mapSize);
    EXPECT_EQ(viewport[3], mapSize);
    GLint readBuffer = 0;
    glGetIntegerv(GL_READ_BUFFER, &readBuffer);
    EXPECT_EQ(readBuffer, GL_BACK);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(spotlightDepthMap, printsTheLightsMatrices)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    consoleCapture capture;
    s.buildDepthMap(nullptr, 0);
    const std::string text = capture.text();

    // gluPerspective(2 acos 0.6 = 106.26 degrees, 1, 10, 40): cot(53.13 degrees) = 0.75.
    const double projection[4][4] = {
        {0.75, 0, 0, 0}, {0, 0.75, 0, 0}, {0, 0, -50.0 / 30.0, -800.0 / 30.0}, {0, 0, -1, 0}};
    // Looking from (0, 0, -2) along +z with y up: x turns over, z turns over and moves by -2.
    const double view[4][4] = {{-1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, -1, -2}, {0, 0, 0, 1}};
    double product[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            product[r][c] = 0;
            for (int k = 0; k < 4; ++k)
                product[r][c] += projection[r][k] * view[k][c];
        }
    expectNear(s.projectionMatrix, fromRows(projection), 1e-6, "projection");
    expectNear(s.modelviewMatrix, fromRows(view), 1e-6, "model-view");
    expectNear(s.shadowMatrix, fromRows(product), 1e-5, "shadow");

    const matrix identity;
    bool viewIsIdentity = true;
    for (int i = 0; i < 16; ++i)
        viewIsIdentity = viewIsIdentity && s.modelviewMatrix[i] == identity[i];
    EXPECT_FALSE(viewIsIdentity);

    EXPECT_EQ(text, "PROJECTION_MATRIX: " + toString(s.projectionMatrix) + "\n" +
                        "MODELVIEW_MATRIX: " + toString(s.modelviewMatrix) + "\n" +
                        "SHADOW_MATRIX: " + toString(s.shadowMatrix) + "\n");
    // Each label on a line of its own, then four rows and an empty line.
    EXPECT_EQ(text, "PROJECTION_MATRIX: \n"
                    "| 0.75 0 0 0 |\n| 0 0.75 0 0 |\n| 0 0 -1.66667 -26.6667 |\n| 0 0 -1 0 |\n\n"
                    "MODELVIEW_MATRIX: \n"
                    "| -1 0 0 0 |\n| 0 1 0 0 |\n| 0 0 -1 -2 |\n| 0 0 0 1 |\n\n"
                    "SHADOW_MATRIX: \n"
                    "| -0.75 0 0 0 |\n| 0 0.75 0 0 |\n| 0 0 1.66667 -23.3333 |\n| 0 0 1 2 |\n\n");
}

TEST(spotlightDepthMap, shadowMatrixTakesWorldPointsToTheLightsClipSpace)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    consoleCapture quiet;
    s.buildDepthMap(nullptr, 0);

    homogeneous origin = apply(s.shadowMatrix, vector(0, 0, 0));
    EXPECT_NEAR(origin.x, 0, 1e-12);
    EXPECT_NEAR(origin.y, 0, 1e-12);
    EXPECT_NEAR(origin.w, 2, 1e-12); // w is the distance in front of the light

    struct Case {
        const char* what;
        vector point;
        double x, y, z; // normalised device coordinates
    } cases[] = {
        {"on the axis at the near plane", vector(0, 0, 8), 0, 0, -1},
        {"on the axis at the far plane", vector(0, 0, 38), 0, 0, 1},
        // 20 units out the frustum is 26.67 wide each way; world +x is seen on the left.
        {"off the axis", vector(4, 2, 18), -0.75 * 4 / 20, 0.75 * 2 / 20, (50.0 / 30 - 800.0 / 30 / 20)},
        {"at the edge of the cone", vector(0, 0.8 * 20, -2 + 0.6 * 20), 0, 1, (50.0 / 30 - 800.0 / 30 / 12)},
    };
    for (const Case& k : cases) {
        homogeneous c = apply(s.shadowMatrix, k.point);
        EXPECT_NEAR(c.x / c.w, k.x, 1e-6) << k.what;
        EXPECT_NEAR(c.y / c.w, k.y, 1e-6) << k.what;
        EXPECT_NEAR(c.z / c.w, k.z, 1e-6) << k.what;
    }
}

TEST(spotlightDepthMap, depthsAgreeWithTheShadowMatrix)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    // A quad tilted about y, about 20 units in front of the light, moved by its transform.
    quadObject tilted(vector(-6, -6, 16), vector(6, -6, 22), vector(6, 6, 22), vector(-6, 6, 16));
    tilted.obj.transform[12] = 1.5;
    tilted.obj.transform[14] = 1.0;
    object* objects[] = {&tilted.obj};
    consoleCapture quiet;
    s.buildDepthMap(objects, 1);
    ASSERT_NE(s.depthMap, nullptr);

    int checked = 0;
    for (int i = 1; i < 10; ++i)
        for (int j = 1; j < 10; ++j) {
            double u = i / 10.0, v = j / 10.0;
            vector a = tilted.corners[0] + (tilted.corners[1] - tilted.corners[0]) * u;
            vector b = tilted.corners[3] + (tilted.corners[2] - tilted.corners[3]) * u;
            vector world = a + (b - a) * v + vector(1.5, 0, 1.0);
            homogeneous c = apply(s.shadowMatrix, world);
            double px = (c.x / c.w + 1) / 2 * mapSize, py = (c.y / c.w + 1) / 2 * mapSize;
            ASSERT_GE(px, 0);
            ASSERT_LT(px, mapSize);
            ASSERT_GE(py, 0);
            ASSERT_LT(py, mapSize);
            double want = (c.z / c.w + 1) / 2;
            float got = s.depthMap[static_cast<int>(py) * mapSize + static_cast<int>(px)];
            // Half a pixel of the slope either way.
            EXPECT_NEAR(got, want, 0.003) << "u " << u << " v " << v;
            ++checked;
        }
    EXPECT_EQ(checked, 81);

    // Nearer on the side the quad comes towards the light: world -x, seen on the right.
    float right = s.depthMap[128 * mapSize + 144], left = s.depthMap[128 * mapSize + 112];
    EXPECT_LT(right, left);
    EXPECT_EQ(s.depthMap[0], farDepth); // a corner of the cone's square sees nothing
    EXPECT_EQ(s.minDepth, 0.0);
    EXPECT_GT(s.maxDepth, 0.99);

    // A second call leaves only its own map.
    s.buildDepthMap(nullptr, 0);
    EXPECT_EQ(s.depthMap[128 * mapSize + 128], farDepth);
    EXPECT_EQ(s.depthMap[128 * mapSize + 144], farDepth);
}

TEST(spotlightDepthMap, conesTooWideForAPerspectiveAreNarrowed)
{
    REQUIRE_GL();
    depthWindow window;
    consoleCapture quiet;
    struct Case {
        double cosOuter;
        double fovDegrees;
    } cases[] = {
        {0.6, 2 * std::acos(0.6) * 57.29577950560105}, // 106.26 degrees
        {0.9, 2 * std::acos(0.9) * 57.29577950560105},
        {0.0, 179.0}, // 180 degrees
        {-0.5, 179.0},
    };
    for (const Case& k : cases) {
        spotlight s;
        aimAtOrigin(s);
        s.cosOuter = k.cosOuter;
        s.buildDepthMap(nullptr, 0);
        double cotangent = 1.0 / std::tan(k.fovDegrees / 2 * 3.14159265358979323846 / 180);
        EXPECT_NEAR(s.projectionMatrix[0], cotangent, 1e-6 * cotangent) << k.cosOuter;
        EXPECT_NEAR(s.projectionMatrix[5], cotangent, 1e-6 * cotangent) << k.cosOuter;
    }
}

TEST(spotlightDepthMap, smallerOddSizedMap)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    s.depthMapWidth = 17;
    s.depthMapHeight = 9;
    glPixelStorei(GL_PACK_ALIGNMENT, 8); // a caller's packing must not widen the rows
    consoleCapture quiet;
    s.buildDepthMap(nullptr, 0);
    GLint alignment = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (int i = 0; i < 17 * 9; ++i)
        EXPECT_EQ(s.depthMap[i], farDepth) << i;
}

namespace {

// Reads the back buffer's pixel at (x, y) as bytes.
std::vector<int> pixelAt(int x, int y)
{
    uint8_t rgb[3];
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return {rgb[0], rgb[1], rgb[2]};
}

// An orthographic view 2 units across of the region about centre, from eye.
void viewFrom(vector eye, vector centre)
{
    glViewport(0, 0, mapSize, mapSize);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -40, 40);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, 0, 1, 0);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// The pixel whose centre is nearest the view coordinate (-1 to 1).
int pixelOf(double coordinate) { return static_cast<int>((coordinate + 1) / 2 * mapSize); }

} // namespace

TEST(spotlightMarker, lightsColourInsideABlackRingAtTheLight)
{
    REQUIRE_GL();
    depthWindow window;
    spotlight s;
    aimAtOrigin(s);
    s.setColour(colour(200, 100, 50, 255));
    // The cones' apex is the light at (0, 0, -2); they open along +z to their base at
    // z = -2 + sin(acos 0.7) = -1.286, radius 0.7 (coloured) and 0.8 (black).
    const std::vector<int> lit = {200, 100, 50}, black = {0, 0, 0}, background = {0, 0, 255};
    auto near = [](const std::vector<int>& got, const std::vector<int>& want) {
        for (int i = 0; i < 3; ++i)
            if (std::abs(got[i] - want[i]) > 1)
                return false;
        return true;
    };
    const int centre = pixelOf(0);
    auto expectRing = [&](double cx, double cy) {
        EXPECT_TRUE(near(pixelAt(pixelOf(cx), pixelOf(cy)), lit));
        EXPECT_TRUE(near(pixelAt(pixelOf(cx + 0.4), pixelOf(cy - 0.3)), lit));
        // The coloured cone reaches 0.7 from the axis, the black one at least 0.8 cos 18 = 0.76.
        EXPECT_TRUE(near(pixelAt(pixelOf(cx), pixelOf(cy + 0.735)), black));
        EXPECT_TRUE(near(pixelAt(pixelOf(cx), pixelOf(cy - 0.735)), black));
        EXPECT_TRUE(near(pixelAt(pixelOf(cx - 0.735), pixelOf(cy)), black));
        EXPECT_TRUE(near(pixelAt(pixelOf(cx), pixelOf(cy + 0.9)), background));
        EXPECT_TRUE(near(pixelAt(pixelOf(cx - 0.6), pixelOf(cy + 0.6)), background));
    };

    // Into the cones' base along the axis: screen right is world x, up is world y.
    viewFrom(vector(0, 0, 10), vector(0, 0, -2));
    glEnable(GL_TEXTURE_2D);
    const std::vector<double> modelview = currentMatrix(GL_MODELVIEW_MATRIX);
    s.drawMarker();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(current[0], 1.0f);
    EXPECT_EQ(current[1], 1.0f);
    EXPECT_EQ(current[2], 1.0f);
    EXPECT_EQ(current[3], 1.0f);
    EXPECT_EQ(currentMatrix(GL_MODELVIEW_MATRIX), modelview);
    expectRing(0, 0);

    // From behind the light with depth testing, as a viewer draws it: the coloured cone
    // still shows inside the black one.
    viewFrom(vector(0, 0, -10), vector(0, 0, -2));
    glEnable(GL_DEPTH_TEST);
    s.drawMarker();
    glDisable(GL_DEPTH_TEST);
    expectRing(0, 0);

    // From the side (screen right is world -z): only between the apex and the base.
    viewFrom(vector(10, 0, -1.643), vector(0, 0, -1.643));
    s.drawMarker();
    EXPECT_TRUE(near(pixelAt(centre, centre), lit));
    EXPECT_TRUE(near(pixelAt(pixelOf(0.45), centre), background));  // z = -2.09, behind the light
    EXPECT_TRUE(near(pixelAt(pixelOf(-0.45), centre), background)); // z = -1.19, past the base

    // It follows the light and turns with its direction.
    s.setPosition(vector(0.1, -0.2, -3));
    viewFrom(vector(0, 0, 10), vector(0, 0, 0));
    s.drawMarker();
    expectRing(0.1, -0.2);
    s.setPosition(vector(0, 0, 0));
    s.setDirection(vector(-3, 0, 0));
    viewFrom(vector(-10, 0, 0), vector(0, 0, 0));
    s.drawMarker();
    expectRing(0, 0);
    viewFrom(vector(0, 0, 10), vector(0, 0, 0));
    s.drawMarker();
    EXPECT_TRUE(near(pixelAt(pixelOf(-0.35), centre), lit));
    EXPECT_TRUE(near(pixelAt(pixelOf(0.1), centre), background));
    EXPECT_TRUE(near(pixelAt(pixelOf(-0.8), centre), background));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
