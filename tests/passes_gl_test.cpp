#include "core/console.h"
#include "mesh/object.h"
#include "tests/glcontext.h"
#include "texlight/textures.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <memory>
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
