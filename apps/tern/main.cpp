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
void keyboard(unsigned char key, int, int)
{
    keyOptions keys;
    keys.renderModes = false;
    viewerKey(key, keys);
}

// What follows the words every fixed-camera viewer's usage begins with.
const char* const usage =
    "baked texture-space lightmaps with black shadows, lit by one white point light that starts "
    "at (0, 0, -2). A drag with any mouse button puts the light at the pointer, in the plane z = "
    "-5. The window is drawn only when something asks: a drag, a resize, an uncovered window. "
    "Keys: A D S relight the ambient, diffuse and specular terms every frame, L light marker, H "
    "shadows, C capture the frame to frameNNNN.bmp, F write every object's maps to BMP files; a "
    "key's change shows at the next redraw.\n";

} // namespace

int main(int argc, char** argv)
{
    return runFixedView(argc, argv, {"tern", usage, &lights, display, keyboard,
                                     motion, nullptr});
}
