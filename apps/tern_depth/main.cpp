// tern_depth: as tern, with a spot light whose cone shapes the light; keys redraw at once.

#include "lights/spotlight.h"
#include "viewer/callbacks.h"
#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/programs.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

namespace {

viewerLights lights;
spotlight& spot = lights.spot;

void display() { renderFixedViewPass(scene.objects.data(), scene.objectCount, 1.0f); }

// Only the position follows the pointer; the cone keeps pointing along (0, 0, 2).
void motion(int x, int y)
{
    spot.setPosition(lightPositionForPointer(scene, x, y));
    glutPostRedisplay();
}

// Unlike tern, every key redraws at once.
void keyboard(unsigned char key, int, int)
{
    viewerKey(key, false, true, false);
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv)
{
    openFixedViewWindow(&argc, argv);
    setUpScene(fixedViewScene, scene, [](Scene& s) { chooseProgram("tern_depth", s, lights); });
    glutDisplayFunc(display);
    glutReshapeFunc(reshapeWindow);
    glutMotionFunc(motion);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
