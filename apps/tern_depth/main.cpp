// tern_depth: as tern, with a spot light whose cone shapes the light; keys redraw at once.

#include "lights/spotlight.h"
#include "viewer/capture.h"
#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

namespace {

spotlight spot;

void display() { renderFixedViewPass(scene.objects.data(), scene.objectCount, 1.0f); }

void reshape(int width, int height)
{
    scene.windowWidth = static_cast<float>(width);
    scene.windowHeight = static_cast<float>(height);
    glutPostRedisplay();
}

// Only the position follows the pointer; the cone keeps pointing along (0, 0, 2).
void motion(int x, int y)
{
    spot.setPosition(lightPositionForPointer(scene, x, y));
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int)
{
    switch (pressKey(scene, key, false, true)) {
    case keyAction::captureFrame: captureFrame(scene, false); break;
    case keyAction::exportMaps: exportMaps(scene); break;
    case keyAction::none: break;
    }
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv)
{
    openFixedViewWindow(&argc, argv);
    setUpScene(fixedViewScene, scene, [](Scene& s) {
        fixedViewAndLight(s, spot);
        spot.setDirection(negated(spot.position));
    });
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutMotionFunc(motion);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
