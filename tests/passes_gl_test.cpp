#include "core/console.h"
#include "mesh/object.h"
#include "tests/glcontext.h"
#include "texlight/textures.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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

    lookFromMinusX();
    updateVisibility(objects.data(), static_cast<int>(objects.size()));
    int visible = 0;
    for (int i = 0; i < 300; ++i)
        visible += objects[i]->visible;
    EXPECT_EQ(visible, 300);
    EXPECT_EQ(objects[300]->visible, 0);
    EXPECT_EQ(objects[301]->visible, 0);
    EXPECT_EQ(objects[302]->visible, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(frameCapture, readsTheShownFrameAndCountsOnlyWrittenFrames)
{
    REQUIRE_GL();
    char folder[] = "/tmp/capture_test_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder), 0);

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

    EXPECT_EQ(chdir(previous), 0);
    std::filesystem::remove_all(folder);
}
