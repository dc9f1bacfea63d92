// tern: one point light that follows the mouse, a fixed camera, the lightmap view only.
// It draws only when something asks for it: a drag, a resize or an exposure.

#include "viewer/callbacks.h"
#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/programs.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

namespace {

viewerLights lights;
pointlight& lamp = lights.lamps[0];

void display() { renderFixedViewPass(scene.objects.data(), scene.objectCount, 1.0f); }

void motion(int x, int y)
{
    lamp.setPosition(lightPositionForPointer(scene, x, y));
    glutPostRedisplay();
}

// A key's change shows at the next redraw, not at once.
void keyboard(unsigned char key, int, int) { viewerKey(key, false, true, false); }

} // namespace

int main(int argc, char** argv)
{
    openFixedViewWindow(&argc, argv);
    setUpScene(fixedViewScene, scene, [](Scene& s) { chooseProgram("tern", s, lights); });
    glutDisplayFunc(display);
    glutReshapeFunc(reshapeWindow);
    glutMotionFunc(motion);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
