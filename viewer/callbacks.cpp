#include "viewer/callbacks.h"

#include "texlight/lighting.h"
#include "texlight/textures.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

#include <GL/glut.h>

namespace {

// A light moved by a key: the baked lightmaps follow it once, as the preparation baked them.
void moveFirstLight(vector position)
{
    light* first = scene.lights;
    if (!first)
        return;
    if (first->form().shape == lightForm::directional)
        first->setDirection(position - scene.centre);
    else
        first->setPosition(position);
    const lightingTerms terms{scene.prepareAmbient, scene.prepareDiffuse, scene.prepareSpecular};
    for (object* obj : scene.objects) {
        if (!obj || !obj->finalBitmap || !obj->finalBitmap->pixels || !obj->lightmapTextureId)
            continue;
        glBindTexture(GL_TEXTURE_2D, obj->lightmapTextureId);
        relightTexture(obj, terms, scene.lights, scene.eye, scene.ambientColour, true);
    }
    glutPostRedisplay();
}

} // namespace

void reshapeWindow(int width, int height)
{
    scene.windowWidth = static_cast<float>(width);
    scene.windowHeight = static_cast<float>(height);
    glutPostRedisplay();
}

void viewerKey(unsigned char key, const keyOptions& options)
{
    switch (pressKey(scene, key, options)) {
    case keyAction::captureFrame:
        scene.captureRequested = true;
        scene.captureSwitchesModes = options.switchModes;
        glutPostRedisplay();
        break;
    case keyAction::exportMaps: exportMaps(scene); break;
    case keyAction::frameScene:
        if (frameScene(scene)) {
            if (options.lightPlacing && !scene.lightPlaced)
                moveFirstLight(lightAboveScene(scene));
            glutPostRedisplay();
        }
        break;
    case keyAction::lightToEye:
        scene.lightPlaced = true;
        moveFirstLight(scene.eye);
        break;
    case keyAction::none: break;
    }
}
