#pragma once

#include <GL/glut.h>

#include <cstdlib>

// A real OpenGL context from a GLUT window, made once per test process. The test command
// runs these tests under a virtual X display; without one they cannot run.
inline bool haveGlContext()
{
    static const bool made = [] {
        if (!std::getenv("DISPLAY"))
            return false;
        int argc = 1;
        char name[] = "render_gl_tests";
        char* argv[] = {name, nullptr};
        glutInit(&argc, argv);
        glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH | GLUT_STENCIL);
        glutInitWindowSize(64, 64);
        glutCreateWindow("render_gl_tests");
        return true;
    }();
    return made;
}

#define REQUIRE_GL() ASSERT_TRUE(haveGlContext()) << "no X display: run the tests with tools/test.sh"

// Looks at the square of half-size 1 at the origin straight on, filling the 64 x 64 viewport,
// with nothing switched on that the tests before may have left: no lighting, depth test or
// culling; a blue background.
inline void lookAtSquare()
{
    glViewport(0, 0, 64, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glColor4f(1, 1, 1, 1);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}
