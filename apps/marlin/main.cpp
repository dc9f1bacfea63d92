// marlin: one point light, three render modes, an orbiting camera and a turntable mode.

#include "core/console.h"
#include "viewer/callbacks.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"
#include "viewer/window.h"

#include <GL/glu.h>
#include <GL/glut.h>

#include <cstring>
#include <string>

namespace {

void display()
{
    if (scene.turntable == 1)
        advanceTurntable(scene);
    updateEye(scene);
    if (scene.renderMode == 1)
        renderMaterialPass(scene.objects.data(), scene.objectCount);
    else if (scene.renderMode == 2)
        renderTextureSpacePass(scene.objects.data(), scene.objectCount);
    else
        renderOutlinePass(scene.objects.data(), scene.objectCount);
}

void idle() { glutPostRedisplay(); }

void mouse(int button, int state, int, int) { mouseButton(scene, button, state); }

void motion(int x, int y)
{
    mouseMotion(scene, x, y);
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int) { viewerKey(key, true, true, true, true); }

void printUsage()
{
    say("Usage: marlin [SCENE_FILE [-turn]]\n"
        "Shows the objects of a scene file (default test2.txt; it and the files it names are "
        "read relative to the working directory) with baked texture-space lighting and shadows. "
        "-turn circles the camera by itself. Keys: T render mode, A D S relight the ambient, "
        "diffuse and specular terms every frame, L light markers, H shadows, C capture the "
        "frame to frameNNNN.bmp, F write every object's maps to BMP files, V frame the whole scene. Mouse: left drag "
        "orbits, right drag moves forwards and back.\n");
}

void printTurntableBanner()
{
    const char* stars = "*************************************";
    say("%s\n%s\n%s\n\n", stars, stars, stars);
    say("Entering Turntable Mode\n");
    say("%s\n\n", stars);
    say("%s\n%s\n", stars, stars);
}

} // namespace

int main(int argc, char** argv)
{
    // Before GLUT, which needs a display and would take the option for a scene file.
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }
    startViewer(&argc, argv);
    const std::string path = argc < 2 ? "test2.txt" : argv[1];
    openViewerWindow(path);
    setUpScene(path, scene, orbitViewAndLight);

    if (argc == 3 && std::strcmp(argv[2], "-turn") == 0) {
        scene.turntable = 1;
        printTurntableBanner();
    }
    glutDisplayFunc(display);
    glutIdleFunc(idle);
    glutReshapeFunc(reshapeWindow);
    if (scene.turntable == 0) {
        glutMotionFunc(motion);
        glutMouseFunc(mouse);
    }
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
