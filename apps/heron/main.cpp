// heron: three coloured point lights circling the scene, relit and redrawn continuously.

#include "viewer/callbacks.h"
#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/programs.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

namespace {

viewerLights lights;

void display()
{
    scene.lightAngle += 0.1;
    placeCirclingLamps(scene, lights);
    renderFixedViewPass(scene.objects.data(), scene.objectCount, 0.333f);
}

void idle() { glutPostRedisplay(); }

// No map export here; every key, even one without an action, asks for a redraw.
void keyboard(unsigned char key, int, int)
{
    viewerKey(key, false, false, false);
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv)
{
    scene.shadowsOn = 0;
    openFixedViewWindow(&argc, argv);
    setUpScene(fixedViewScene, scene, [](Scene& s) { chooseProgram("heron", s, lights); });
    glutDisplayFunc(display);
    glutReshapeFunc(reshapeWindow);
    glutIdleFunc(idle);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
