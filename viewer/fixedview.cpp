#include "viewer/fixedview.h"

#include "lights/shadowrays.h"
#include "viewer/window.h"

#include <cstring>

const char* const fixedViewScene = "sphere_room.txt";

bool asksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

bool openFixedViewScene(int* argc, char** argv, const sceneChoices& choices)
{
    const std::string path = sceneArgument(*argc, argv, fixedViewScene);
    if (!sceneFileReadable(path))
        return false;
    startViewer(argc, argv);
    openViewerWindow(path);
    setUpScene(path, scene, choices);
    return scene.objectCount > 0;
}

bool blockedInScene(vector d, vector p)
{
    return shadowRayBlocked(d, p, scene.objects.data(), scene.objectCount);
}
