#include "viewer/input.h"

#include "viewer/scene.h"

#include <GL/glut.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

void updateEye(Scene& s)
{
    const double theta = s.cameraAzimuth, phi = s.cameraElevation;
    s.eye.x = -std::cos(phi) * std::cos(theta) * s.viewDistance + s.centre.x;
    s.eye.y = std::sin(phi) * s.viewDistance + s.centre.y;
    s.eye.z = -std::cos(phi) * std::sin(theta) * s.viewDistance + s.centre.z;
}

bool frameScene(Scene& s)
{
    const double inf = std::numeric_limits<double>::infinity();
    vector lo(inf, inf, inf), hi(-inf, -inf, -inf);
    bool any = false;
    for (int i = 0; i < s.objectCount; ++i) {
        const object* obj = s.objects[static_cast<size_t>(i)];
        if (!obj)
            continue;
        const size_t count = std::min(obj->polygons.size(), static_cast<size_t>(std::max(obj->polygonCount, 0)));
        for (size_t p = 0; p < count; ++p)
            for (const vector& v : obj->polygons[p].position) {
                // A stray infinite or undefined corner would frame nothing at all.
                if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
                    continue;
                lo.set(std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z));
                hi.set(std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z));
                any = true;
            }
    }
    if (!any)
        return false;
    const vector middle = (lo + hi) * 0.5;
    const vector half = (hi - lo) * 0.5;
    // A lone point still gets a view of some size around it.
    const double radius = std::max(std::sqrt(dot(half, half)), 1e-6 * (1 + std::sqrt(dot(middle, middle))));
    // The bounding sphere fits the narrower of the two fields of view, with a little room.
    const double aspect = s.windowHeight > 0 ? s.windowWidth / s.windowHeight : 1.0;
    const double vertical = fieldOfView * M_PI / 360;
    const double horizontal = std::atan(std::tan(vertical) * aspect);
    const double distance = radius / std::sin(std::min(vertical, horizontal)) * 1.1;
    s.centre = middle;
    s.viewDistance = distance;
    s.framedRadius = radius;
    // Depth precision follows far / near, which stays small this way.
    s.nearPlane = (distance - radius) * 0.5;
    s.farPlane = (distance + radius) * 2;
    updateEye(s);
    return true;
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
    case 3: zoom(s, 1); return;
    case 4: zoom(s, -1); return;
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

void zoom(Scene& s, int steps)
{
    double distance = s.viewDistance * std::pow(0.9, steps);
    // Nearer than the near plane, the centre and what stands around it would be cut away.
    distance = std::min(std::max(distance, s.nearPlane * 2), s.farPlane * 0.5);
    if (std::isfinite(distance) && distance > 0)
        s.viewDistance = distance;
    updateEye(s);
}

vector lightAboveScene(const Scene& s)
{
    const double radius = s.framedRadius;
    vector towardsEye = s.eye - s.centre;
    const double length = std::sqrt(dot(towardsEye, towardsEye));
    towardsEye = length > 0 ? towardsEye * (1.0 / length) : vector(0, 0, 0);
    return s.centre + vector(0, 1.5 * radius, 0) + towardsEye * (0.25 * radius);
}

int nextRenderMode(int mode)
{
    if (mode == 1)
        return 2;
    if (mode == 2)
        return 3;
    return 1;
}

keyAction pressKey(Scene& s, unsigned char key, const keyOptions& options)
{
    switch (std::toupper(key)) {
    case 'A': toggle(s.ambientTerm); break;
    case 'D': toggle(s.diffuseTerm); break;
    case 'S': toggle(s.specularTerm); break;
    case 'L': toggle(s.showLights); break;
    case 'H': toggle(s.shadowsOn); break;
    case 'T':
        if (options.renderModes)
            s.renderMode = nextRenderMode(s.renderMode);
        break;
    case 'C': return keyAction::captureFrame;
    case 'F': return options.mapExport ? keyAction::exportMaps : keyAction::none;
    case 'V': return options.framing ? keyAction::frameScene : keyAction::none;
    case 'G': return options.lightPlacing ? keyAction::lightToEye : keyAction::none;
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
