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
