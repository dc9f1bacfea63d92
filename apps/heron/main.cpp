// heron: three coloured point lights circling the scene, relit and redrawn continuously.

#include "viewer/callbacks.h"
#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

namespace {

pointlight lamps[3];

void placeLamps()
{
    vector at[3];
    circlingLightPositions(scene.lightAngle, at);
    for (int i = 0; i < 3; ++i)
        lamps[i].setPosition(at[i]);
}

void setUp(Scene& s)
{
    s.eye.set(0, 0, -10);
    s.ambientTerm = s.diffuseTerm = s.specularTerm = 1;
    placeLamps();
    const colour colours[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    for (int i = 0; i < 3; ++i) {
        lamps[i].setColour(colours[i]);
        lamps[i].blocked = blockedInScene;
        lamps[i].next = i < 2 ? &lamps[i + 1] : nullptr;
    }
    s.lights = &lamps[0];
}

void display()
{
    scene.lightAngle += 0.1;
    placeLamps();
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
    setUpScene(fixedViewScene, scene, setUp);
    glutDisplayFunc(display);
    glutReshapeFunc(reshapeWindow);
    glutIdleFunc(idle);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
