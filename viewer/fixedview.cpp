#include "viewer/fixedview.h"

#include "core/console.h"
#include "lights/shadowrays.h"

#include <GL/glu.h>
#include <GL/glut.h>

const char* const fixedViewScene = "sphere_room.txt";

void openFixedViewWindow(int* argc, char** argv)
{
    useLineBufferedConsole();
    glutInit(argc, argv);
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_VERSION)));
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_EXTENSIONS)));
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(static_cast<int>(scene.windowWidth), static_cast<int>(scene.windowHeight));
    glutInitWindowPosition(100, 100);
    glutCreateWindow(fixedViewScene);
}

bool blockedInScene(vector d, vector p)
{
    return shadowRayBlocked(d, p, scene.objects.data(), scene.objectCount);
}
