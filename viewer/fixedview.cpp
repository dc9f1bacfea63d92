#include "viewer/fixedview.h"

#include "lights/shadowrays.h"
#include "viewer/window.h"

const char* const fixedViewScene = "sphere_room.txt";

void openFixedViewWindow(int* argc, char** argv)
{
    startViewer(argc, argv);
    openViewerWindow(fixedViewScene);
}

bool blockedInScene(vector d, vector p)
{
    return shadowRayBlocked(d, p, scene.objects.data(), scene.objectCount);
}
