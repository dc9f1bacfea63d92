#include "viewer/callbacks.h"

#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

#include <GL/glut.h>

void reshapeWindow(int width, int height)
{
    scene.windowWidth = static_cast<float>(width);
    scene.windowHeight = static_cast<float>(height);
    glutPostRedisplay();
}

void viewerKey(unsigned char key, bool renderModes, bool mapExport, bool switchModes, bool framing)
{
    switch (pressKey(scene, key, renderModes, mapExport, framing)) {
    case keyAction::captureFrame:
        scene.captureRequested = true;
        scene.captureSwitchesModes = switchModes;
        glutPostRedisplay();
        break;
    case keyAction::exportMaps: exportMaps(scene); break;
    case keyAction::frameScene:
        if (frameScene(scene))
            glutPostRedisplay();
        break;
    case keyAction::none: break;
    }
}
