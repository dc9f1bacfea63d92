// heron: three coloured point lights circling the scene, relit and redrawn continuously.

#include "core/console.h"
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

void printUsage()
{
    say("Usage: heron [SCENE_FILE]\n"
        "Shows a scene file (default sphere_room.txt; it and the files it names are read "
        "relative to the working directory, the named files else relative to the scene file's "
        "folder) from a fixed camera at (0, 0, -10) as "
        "texture-space lightmaps relit and drawn continuously, lit by three point lights, red, "
        "green and blue, circling the origin at radius 3. Shadows are off at start; each light's "
        "shadow darkens by a third. Keys: A D S relight the ambient, diffuse and specular terms "
        "every frame (all three on at start), L light markers, H shadows, C capture the frame to "
        "frameNNNN.bmp. The mouse does nothing.\n");
}

} // namespace

int main(int argc, char** argv)
{
    // Before GLUT, which needs a display.
    if (asksForHelp(argc, argv)) {
        printUsage();
        return 0;
    }
    scene.shadowsOn = 0;
    if (!openFixedViewScene(&argc, argv, [](Scene& s) { chooseProgram("heron", s, lights); }))
        return 1;
    glutDisplayFunc(display);
    glutReshapeFunc(reshapeWindow);
    glutIdleFunc(idle);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
