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
    keyOptions keys;
    keys.renderModes = false;
    keys.mapExport = false;
    viewerKey(key, keys);
    glutPostRedisplay();
}

// What follows the words every fixed-camera viewer's usage begins with.
const char* const usage =
    "texture-space lightmaps relit and drawn continuously, lit by three point lights, red, green "
    "and blue, circling the origin at radius 3. Shadows are off at start; each light's shadow "
    "darkens by a third. Keys: A D S relight the ambient, diffuse and specular terms every frame "
    "(all three on at start), L light markers, H shadows, C capture the frame to frameNNNN.bmp. "
    "The mouse does nothing.\n";

} // namespace

int main(int argc, char** argv)
{
    scene.shadowsOn = 0;
    return runFixedView(argc, argv, {"heron", usage, &lights, display, keyboard,
                                     nullptr, idle});
}
