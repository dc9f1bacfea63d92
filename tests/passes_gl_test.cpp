#include "core/console.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"
#include "tests/glcontext.h"
#include "texlight/textures.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The working folder is a fresh one under /tmp for the scope (frames are written there), then
// the previous one again; the fresh folder is removed with what it holds.
struct workInTempFolder {
    explicit workInTempFolder(const std::string& prefix)
    {
        std::string name = "/tmp/" + prefix + "_XXXXXX";
        char previous[4096];
        if (mkdtemp(name.data()) && getcwd(previous, sizeof previous) && chdir(name.c_str()) == 0) {
            dir = name;
            back = previous;
            entered = true;
        }
    }
    ~workInTempFolder()
    {
        if (!entered)
            return;
        EXPECT_EQ(chdir(back.c_str()), 0);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir, back;
    bool entered = false;
};

// A small triangle at (x, y, z) whose mesh list is all the visibility test needs.
std::unique_ptr<object> marker(double x, double y, double z)
{
    auto obj = std::make_unique<object>(0, 0);
    polygon p;
    p.position[0] = vector(x, y, z);
    p.position[1] = vector(x, y + 0.05, z);
    p.position[2] = vector(x, y, z + 0.05);
    obj->polygons = {p};
    obj->polygonCount = 1;
    obj->meshList = compileTriangleList(obj->polygons.data(), 1);
    return obj;
}

void lookFromMinusX()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(75.0, 720.0 / 576.0, 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(-10, 0, 0, 0, 0, 0, 0, 1, 0);
}

// The visible flags that selection over each pickable object's whole mesh list gives.
std::vector<int> selectedByWholeLists(const std::vector<object*>& objects)
{
    std::vector<GLuint> buffer(4 * objects.size() + 4);
    glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->pickable == 1) {
            glLoadName(static_cast<GLuint>(i + 1));
            glCallList(objects[i]->meshList);
        }
    GLint hits = glRenderMode(GL_RENDER);
    std::vector<int> visible;
    for (object* obj : objects)
        visible.push_back(obj->pickable == 1 ? 0 : obj->visible);
    for (GLint j = 0; j < hits; ++j)
        visible[buffer[4 * static_cast<size_t>(j) + 3] - 1] = 1;
    return visible;
}

} // namespace

TEST(visibility, threeHundredObjectsInViewAreAllVisible)
{
    REQUIRE_GL();
    std::vector<std::unique_ptr<object>> owned;
    std::vector<object*> objects;
    for (int i = 0; i < 300; ++i) {
        owned.push_back(marker(0, (i / 20) * 0.3 - 2, (i % 20) * 0.3 - 3));
        objects.push_back(owned.back().get());
    }
    // Behind the camera and beyond the far plane: not visible.
    owned.push_back(marker(-20, 0, 0));
    objects.push_back(owned.back().get());
    owned.push_back(marker(200, 0, 0));
    objects.push_back(owned.back().get());
    // Not pickable: left alone.
    owned.push_back(marker(0, 0, 0));
    owned.back()->pickable = 0;
    owned.back()->visible = 0;
    objects.push_back(owned.back().get());
    // A thousand triangles behind the camera but one, which a sample of every third
    // triangle misses: visible, found with all its triangles.
    owned.push_back(marker(-20, 0, 0));
    {
        object& crowd = *owned.back();
        crowd.polygons.assign(1000, crowd.polygons[0]);
        crowd.polygons[1] = marker(0, 1, 1)->polygons[0];
        crowd.polygonCount = 1000;
        crowd.meshList = compileTriangleList(crowd.polygons.data(), 1000);
    }
    objects.push_back(owned.back().get());

    lookFromMinusX();
    glDisable(GL_CULL_FACE);
    updateVisibility(objects.data(), static_cast<int>(objects.size()));
    int visible = 0;
    for (int i = 0; i < 300; ++i)
        visible += objects[i]->visible;
    EXPECT_EQ(visible, 300);
    EXPECT_EQ(objects[300]->visible, 0);
    EXPECT_EQ(objects[301]->visible, 0);
    EXPECT_EQ(objects[302]->visible, 0);
    EXPECT_EQ(objects[303]->visible, 1);

    // Under face culling as well the flags are those of selection over the whole lists.
    for (GLenum culled : {GL_BACK, GL_FRONT, GL_FRONT_AND_BACK}) {
        SCOPED_TRACE(culled);
        glEnable(GL_CULL_FACE);
        glCullFace(culled);
        std::vector<int> expected = selectedByWholeLists(objects);
        updateVisibility(objects.data(), static_cast<int>(objects.size()));
        for (size_t i = 0; i < objects.size(); ++i)
            ASSERT_EQ(objects[i]->visible, expected[i]) << "object " << i;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
}

TEST(frameCapture, readsTheShownFrameAndCountsOnlyWrittenFrames)
{
    REQUIRE_GL();
    workInTempFolder folder("capture_test");
    ASSERT_TRUE(folder.entered);

    Scene& s = scene;
    s.windowWidth = 64;
    s.windowHeight = 64;
    s.eye = vector(0, 0, -10);
    s.frameNumber = 1;
    // Blue left in the back buffer: the capture must take the frame the pass draws instead.
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    consoleCapture capture;
    s.captureRequested = true;
    renderFixedViewPass(nullptr, 0, 1.0f);
    EXPECT_FALSE(s.captureRequested);
    EXPECT_EQ(capture.text(), "Outputing frame: 1\n");
    EXPECT_EQ(s.frameNumber, 2);
    std::unique_ptr<bitmap> frame = readBmp("frame0001.bmp");
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->width, 64);
    EXPECT_EQ(frame->pixelAt(5, 5), colour(0, 0, 0, 255));
    EXPECT_EQ(frame->pixelAt(60, 40), colour(0, 0, 0, 255));

    // A folder in the way of the next frame: its error alone, and the number is kept.
    ASSERT_EQ(mkdir("frame0002.bmp", 0755), 0);
    capture.clear();
    captureFrame(s, false);
    EXPECT_EQ(capture.text().rfind("ERROR: ", 0), 0u) << capture.text();
    EXPECT_EQ(capture.text().find("Outputing"), std::string::npos) << capture.text();
    EXPECT_EQ(s.frameNumber, 2);

}

namespace {

// A square of half-size h in the plane z, facing -z (towards the fixed camera) with its
// texture coordinates counter-clockwise as seen from there, prepared with a uniform lightmap
// of the given colour.
std::unique_ptr<object> squareFacingTheCamera(double h, double z, colour lightmap, light* lights)
{
    const std::string hs = std::to_string(h), zs = std::to_string(z);
    const std::string text = "v -" + hs + " -" + hs + " " + zs + "\nv " + hs + " -" + hs + " " + zs +
                             "\nv " + hs + " " + hs + " " + zs + "\nv -" + hs + " " + hs + " " + zs +
                             "\nvt 1 0\nvt 0 0\nvt 0 1\nvt 1 1\nvn 0 0 -1\n"
                             "f 1/1/1 3/3/1 2/2/1\nf 1/1/1 4/4/1 3/3/1\n";
    consoleCapture quiet;
    std::unique_ptr<object> obj = parseObject(text.data(), text.size(), "square.obj", 8, 8);
    preparationSettings settings;
    settings.lights = lights;
    settings.eye = vector(0, 0, -10);
    prepareObject(obj.get(), colour(50, 50, 50, 255), colour(200, 200, 200, 255),
                  colour(255, 255, 255, 255), settings);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            obj->finalBitmap->setPixel(x, y, lightmap);
    glBindTexture(GL_TEXTURE_2D, obj->lightmapTextureId);
    uploadTexture(*obj->finalBitmap);
    return obj;
}

// The mean colour of the pixels in columns x0..x1 and rows y0..y1, and the largest distance
// of any of them from the mean in any channel.
struct windowColour {
    double red = 0, green = 0, blue = 0, spread = 0;
};

windowColour meanOf(const bitmap& b, int x0, int x1, int y0, int y1)
{
    windowColour m;
    const double n = (x1 - x0 + 1) * (y1 - y0 + 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            colour c = b.pixelAt(x, y);
            m.red += c.red / n;
            m.green += c.green / n;
            m.blue += c.blue / n;
        }
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            colour c = b.pixelAt(x, y);
            m.spread = std::max({m.spread, std::fabs(c.red - m.red), std::fabs(c.green - m.green),
                                 std::fabs(c.blue - m.blue)});
        }
    return m;
}

} // namespace

TEST(fixedViewPass, shadowDarknessOfTheFixedCameraPrograms)
{
    REQUIRE_GL();
    workInTempFolder folder("fixedview_test");
    ASSERT_TRUE(folder.entered);

    // A wall at z = 2 wider than the view and a square of half-size 1 at z = 0, lit from
    // (0, -3, -2): the square's shadow on the wall is (2x, 2y + 3), x in -2..2, y in 1..5. Seen
    // from (0, 0, -10) with a 75 degree view, a unit on the wall is 32 / (12 tan 37.5) = 3.48
    // pixels, so the shadow covers rows 36 to 49 and columns 26 to 38 of the 64 x 64 window,
    // the square itself rows 28 to 36. Rows 14 to 22 show the wall lit.
    pointlight lamp;
    lamp.setPosition(vector(0, -3, -2));
    std::unique_ptr<object> wall = squareFacingTheCamera(10, 2, colour(240, 180, 90, 255), &lamp);
    std::unique_ptr<object> occluder = squareFacingTheCamera(1, 0, colour(30, 30, 30, 255), &lamp);
    object* objects[] = {wall.get(), occluder.get()};

    Scene& s = scene;
    s.windowWidth = 64;
    s.windowHeight = 64;
    s.eye = vector(0, 0, -10);
    s.centre = vector(0, 0, 0);
    s.lights = &lamp;
    s.shadowsOn = 1;
    s.showLights = 0;
    s.ambientTerm = s.diffuseTerm = s.specularTerm = 0; // the lightmaps stay as set
    // The state the scene set-up leaves, whatever tests ran before in this process.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);

    struct Case {
        float darkness;
        double red, green, blue; // in the shadow
    } cases[] = {
        {1.0f, 0, 0, 0},     // tern and tern_depth: black
        {0.333f, 160, 120, 60}, // heron: 240, 180, 90 times 1 - 0.333 = 0.667
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.darkness);
        s.frameNumber = 1;
        s.captureRequested = true;
        {
            consoleCapture quiet;
            renderFixedViewPass(objects, 2, k.darkness);
        }
        std::unique_ptr<bitmap> frame = readBmp("frame0001.bmp");
        ASSERT_TRUE(frame);
        std::remove("frame0001.bmp");
        ASSERT_EQ(frame->width, 64);

        windowColour lit = meanOf(*frame, 29, 35, 14, 22);
        EXPECT_NEAR(lit.red, 240, 1);
        EXPECT_NEAR(lit.green, 180, 1);
        EXPECT_NEAR(lit.blue, 90, 1);
        EXPECT_LE(lit.spread, 1);
        // Within a blend's rounding: 2 levels.
        windowColour shadow = meanOf(*frame, 29, 35, 40, 46);
        EXPECT_NEAR(shadow.red, k.red, 2);
        EXPECT_NEAR(shadow.green, k.green, 2);
        EXPECT_NEAR(shadow.blue, k.blue, 2);
        EXPECT_LE(shadow.spread, 2);
    }

    s.lights = nullptr;
}
