#include "viewer/fixedview.h"

#include "core/console.h"
#include "lights/shadowrays.h"
#include "viewer/callbacks.h"

#include <GL/glut.h>

#include <cstring>

const char* const fixedViewScene = "sphere_room.txt";

namespace {

bool asksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

} // namespace

int runFixedView(int argc, char** argv, const fixedViewProgram& program)
{
    if (asksForHelp(argc, argv)) {
        say("Usage: %s [SCENE_FILE]\n"
            "Shows a scene file (default %s; it and the files it names are read relative to the working "
            "directory, the named files else relative to the scene file's folder) from a fixed camera at "
            "(0, 0, -10) as %s",
            program.name, fixedViewScene, program.usage);
        return 0;
    }
    const std::string path = sceneArgument(argc, argv, fixedViewScene);
    if (!openSceneWindow(&argc, argv, path, [&](Scene& s) { chooseProgram(program.name, s, *program.lights); }))
        return 1;
    glutDisplayFunc(program.display);
    glutReshapeFunc(reshapeWindow);
    if (program.motion)
        glutMotionFunc(program.motion);
    if (program.idle)
        glutIdleFunc(program.idle);
    glutKeyboardFunc(program.keyboard);
    glutMainLoop();
    return 0;
}

bool blockedInScene(vector d, vector p)
{
    return shadowRayBlocked(d, p, scene.objects.data(), scene.objectCount);
}
