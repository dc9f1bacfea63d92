// marlin: one point light, three render modes, an orbiting camera and a turntable mode.

#include "core/console.h"
#include "viewer/callbacks.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

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

void keyboard(unsigned char key, int, int) { viewerKey(key, true, true, true); }

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
    useLineBufferedConsole();
    glutInit(&argc, argv);
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_VERSION)));
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_EXTENSIONS)));
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(static_cast<int>(scene.windowWidth), static_cast<int>(scene.windowHeight));
    glutInitWindowPosition(100, 100);
    const std::string path = argc < 2 ? "test2.txt" : argv[1];
    glutCreateWindow(path.c_str());
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
