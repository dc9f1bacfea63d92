#include "viewer/input.h"

#include "viewer/scene.h"

#include <GL/glut.h>

#include <cctype>
#include <cmath>

namespace {
const float cameraDistance = 10.0f;
}

void updateEye(Scene& s)
{
    const double theta = s.cameraAzimuth, phi = s.cameraElevation;
    s.eye.x = -std::cos(phi) * std::cos(theta) * cameraDistance + s.centre.x;
    s.eye.y = std::sin(phi) * cameraDistance + s.centre.y;
    s.eye.z = -std::cos(phi) * std::sin(theta) * cameraDistance + s.centre.z;
}

void mouseButton(Scene& s, int button, int state)
{
    if (state == GLUT_UP) {
        s.dragMode = 0;
        return;
    }
    if (state != GLUT_DOWN)
        return;
    switch (button) {
    case GLUT_LEFT_BUTTON: s.dragMode = 1; break;
    case GLUT_MIDDLE_BUTTON: s.dragMode = 2; break;
    case GLUT_RIGHT_BUTTON: s.dragMode = 3; break;
    default: return;
    }
    s.lastMouseX = -1;
    s.lastMouseY = -1;
}

void mouseMotion(Scene& s, int x, int y)
{
    vector view = s.centre - s.eye;
    if (s.lastMouseX == -1) {
        s.lastMouseX = x;
        s.lastMouseY = y;
    }
    if (s.dragMode == 1) {
        s.cameraAzimuth += (x - s.lastMouseX) / s.windowWidth * 2;
        s.cameraElevation += (y - s.lastMouseY) / s.windowHeight * 2;
    } else if (s.dragMode == 3) {
        // Dragging up moves forwards along the view; the eye follows the centre.
        double step = -(y - s.lastMouseY) / s.windowHeight;
        vector offset = (view * step) * 2;
        s.centre = s.centre + offset;
        s.eye = s.eye + offset;
    }
    s.lastMouseX = x;
    s.lastMouseY = y;
}

int nextRenderMode(int mode)
{
    if (mode == 1)
        return 2;
    if (mode == 2)
        return 3;
    return 1;
}

keyAction pressKey(Scene& s, unsigned char key, bool renderModes, bool mapExport)
{
    switch (std::toupper(key)) {
    case 'A': toggle(s.ambientTerm); break;
    case 'D': toggle(s.diffuseTerm); break;
    case 'S': toggle(s.specularTerm); break;
    case 'L': toggle(s.showLights); break;
    case 'H': toggle(s.shadowsOn); break;
    case 'T':
        if (renderModes)
            s.renderMode = nextRenderMode(s.renderMode);
        break;
    case 'C': return keyAction::captureFrame;
    case 'F': return mapExport ? keyAction::exportMaps : keyAction::none;
    default: break;
    }
    return keyAction::none;
}

void advanceTurntable(Scene& s)
{
    s.cameraAzimuth += s.turntableStep * (1.0 / 180.0);
    s.cameraElevation = 0.5;
}

vector lightPositionForPointer(const Scene& s, int x, int y)
{
    return vector(2 - x / s.windowWidth * 4, 2 - y / s.windowHeight * 4, -5.0);
}

void circlingLightPositions(double a, vector out[3])
{
    const double radius = 3.0;
    out[0] = vector(radius * std::cos(a), -radius * std::sin(a), 0);
    out[1] = vector(radius * std::cos(a), 0, -radius * std::sin(a));
    out[2] = vector(0, radius * std::cos(a), -radius * std::sin(a));
}
