// marlin: one point light, three render modes, an orbiting camera and a turntable mode.

#include "core/console.h"
#include "viewer/bake.h"
#include "viewer/callbacks.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <GL/glu.h>
#include <GL/glut.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

void keyboard(unsigned char key, int, int)
{
    keyOptions keys;
    keys.switchModes = true;
    keys.framing = true;
    keys.lightPlacing = true;
    viewerKey(key, keys);
}

void printUsage()
{
    say("Usage: marlin [SCENE_FILE [-turn]] [--light X,Y,Z[,R,G,B[,RANGE]]]...\n"
        "Shows the objects of a scene file (default test2.txt; it and the files it names are "
        "read relative to the working directory, the named files else relative to the scene "
        "file's folder) with baked texture-space lighting and shadows. "
        "-turn circles the camera by itself. Keys: T render mode, A D S relight the ambient, "
        "diffuse and specular terms every frame, L light markers, H shadows, C capture the "
        "frame to frameNNNN.bmp, F write every object's maps to BMP files, V frame the whole "
        "scene (and bring a light that was not placed above it), G put the light at the eye. "
        "Mouse: left drag orbits, right drag moves forwards and back, the wheel zooms. "
        "A scene that cannot be read or holds no object ends the program with status 1.\n"
        "Options, anywhere on the line (--light and --sun replace the light):\n%s%s",
        lightOptionUsage, traceOptionsUsage);
}

// Takes the options of the traced bake out of argv; false after an error line for a bad one.
bool takeTraceOptions(int& argc, char** argv, traceOptions& options)
{
    const std::vector<std::string> args(argv, argv + argc);
    std::vector<char*> kept{argv[0]};
    for (size_t i = 1; i < args.size(); ++i) {
        const size_t first = i;
        bool matched = false;
        std::string problem;
        if (!readTraceOption(args, i, options, matched, problem)) {
            say("ERROR: %s!\n", problem.c_str());
            return false;
        }
        if (!matched)
            kept.push_back(argv[first]);
    }
    argc = static_cast<int>(kept.size());
    for (int i = 0; i < argc; ++i)
        argv[i] = kept[static_cast<size_t>(i)];
    return true;
}

traceOptions traced;
std::vector<std::unique_ptr<light>> ownLights;

// The orbiting view and light, with the lights of the command line in the light's place.
void viewAndLights(Scene& s)
{
    orbitViewAndLight(s);
    s.tracing = traced.trace;
    if (light* own = makeOwnLights(traced.lights, traced.suns, ownLights)) {
        s.lights = own;
        s.lightPlaced = true;
    }
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
    if (!takeTraceOptions(argc, argv, traced))
        return 2;
    const std::string path = sceneArgument(argc, argv, "test2.txt");
    if (!openSceneWindow(&argc, argv, path, viewAndLights))
        return 1;

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
