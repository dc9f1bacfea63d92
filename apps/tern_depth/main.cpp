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
    keyOptions keys;
    keys.renderModes = false;
    viewerKey(key, keys);
    glutPostRedisplay();
}

// What follows the words every fixed-camera viewer's usage begins with.
const char* const usage =
    "baked texture-space lightmaps with black shadows, lit by one white spot light at (0, 0, -2) "
    "shining at the origin in a cone. A drag with any mouse button puts the light at the pointer, "
    "in the plane z = -5; its cone keeps pointing along +z. Keys: A D S relight the ambient, "
    "diffuse and specular terms every frame, L light marker (a cone), H shadows, C capture the "
    "frame to frameNNNN.bmp, F write every object's maps to BMP files; every key redraws at "
    "once.\n";

} // namespace

int main(int argc, char** argv)
{
    return runFixedView(argc, argv, {"tern_depth", usage, &lights, display, keyboard,
                                     motion, nullptr});
}
