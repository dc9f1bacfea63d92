#include "core/console.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

#include "tests/testmeshes.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectNear(const vector& a, const vector& b)
{
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
    EXPECT_NEAR(a.z, b.z, 1e-9);
}

} // namespace

TEST(camera, eyeOrbitsTheCentreAtDistanceTen)
{
    struct Case {
        double azimuth, elevation;
        vector centre, eye;
    } cases[] = {
        {0, 0, {0, 0, 0}, {-10, 0, 0}},
        {M_PI / 2, 0, {0, 0, 0}, {0, 0, -10}},
        {0, M_PI / 2, {0, 0, 0}, {0, 10, 0}},
        {M_PI, 0, {1, 2, 3}, {11, 2, 3}},
        {0, M_PI, {0, 0, 0}, {10, 0, 0}}, // past the pole the eye goes over the top
    };
    for (const Case& k : cases) {
        Scene s;
        s.cameraAzimuth = k.azimuth;
        s.cameraElevation = k.elevation;
        s.centre = k.centre;
        s.eye.w = 3.0;
        updateEye(s);
        expectNear(s.eye, k.eye);
        EXPECT_EQ(s.eye.w, 3.0); // only x, y and z are recomputed
    }
}

TEST(mouse, buttonsSetTheDragModeAndForgetThePointer)
{
    Scene s;
    s.lastMouseX = 5;
    struct Case {
        int button, state, mode;
    } cases[] = {
        {GLUT_LEFT_BUTTON, GLUT_DOWN, 1},
        {GLUT_MIDDLE_BUTTON, GLUT_DOWN, 2},
        {GLUT_RIGHT_BUTTON, GLUT_DOWN, 3},
        {GLUT_LEFT_BUTTON, GLUT_UP, 0},
    };
    for (const Case& k : cases) {
        s.lastMouseX = s.lastMouseY = 5;
        mouseButton(s, k.button, k.state);
        EXPECT_EQ(s.dragMode, k.mode);
        EXPECT_EQ(s.lastMouseX, k.state == GLUT_DOWN ? -1 : 5);
    }
    s.dragMode = 3;
    mouseButton(s, 7, GLUT_DOWN); // an unknown button changes nothing
    EXPECT_EQ(s.dragMode, 3);
}

TEST(mouse, orbitAndMoveDrags)
{
    Scene s;
    updateEye(s);
    mouseButton(s, GLUT_LEFT_BUTTON, GLUT_DOWN);
    mouseMotion(s, 100, 100); // the first event of a drag moves nothing
    EXPECT_EQ(s.cameraAzimuth, 0.0);
    mouseMotion(s, 100 + 360, 100 + 144); // half the width, a quarter of the height
    EXPECT_FLOAT_EQ(s.cameraAzimuth, 1.0);
    EXPECT_FLOAT_EQ(s.cameraElevation, 0.5); // moving down raises the eye
    EXPECT_EQ(s.lastMouseX, 460);

    // Right drag upwards by the full height moves 20 units along the view.
    Scene m;
    updateEye(m); // eye (-10, 0, 0) looking along +x
    mouseButton(m, GLUT_RIGHT_BUTTON, GLUT_DOWN);
    mouseMotion(m, 10, 576);
    mouseMotion(m, 10, 0);
    expectNear(m.centre, vector(20, 0, 0));
    expectNear(m.eye, vector(10, 0, 0));

    // Middle drags only redraw.
    Scene still;
    updateEye(still);
    mouseButton(still, GLUT_MIDDLE_BUTTON, GLUT_DOWN);
    mouseMotion(still, 0, 0);
    mouseMotion(still, 300, 300);
    EXPECT_EQ(still.cameraAzimuth, 0.0);
    expectNear(still.centre, vector(0, 0, 0));
}

TEST(keyboard, togglesCyclesAndCommands)
{
    Scene s;
    struct Case {
        unsigned char key;
        int Scene::*flag;
    } flags[] = {{'l', &Scene::showLights}, {'L', &Scene::showLights}, {'h', &Scene::shadowsOn}, {'H', &Scene::shadowsOn}};
    for (const Case& k : flags) {
        int before = s.*k.flag;
        EXPECT_EQ(pressKey(s, k.key), keyAction::none);
        EXPECT_EQ(s.*k.flag, before == 1 ? 0 : 1);
    }
    s.ambientTerm = 7; // anything but 1 turns on
    pressKey(s, 'a');
    EXPECT_EQ(s.ambientTerm, 1);
    pressKey(s, 'A');
    EXPECT_EQ(s.ambientTerm, 0);
    pressKey(s, 'd');
    pressKey(s, 'S');
    EXPECT_EQ(s.diffuseTerm, 1);
    EXPECT_EQ(s.specularTerm, 1);

    // T three times returns to mode 1; an unknown mode goes to 1.
    int modes[3];
    for (int& m : modes) {
        pressKey(s, 't');
        m = s.renderMode;
    }
    EXPECT_EQ(modes[0], 2);
    EXPECT_EQ(modes[1], 3);
    EXPECT_EQ(modes[2], 1);
    EXPECT_EQ(nextRenderMode(9), 1);

    EXPECT_EQ(pressKey(s, 'c'), keyAction::captureFrame);
    EXPECT_EQ(pressKey(s, 'F'), keyAction::exportMaps);
    EXPECT_EQ(pressKey(s, 'v'), keyAction::none); // only where the program frames its scene
    keyOptions marlinKeys;
    marlinKeys.framing = true;
    EXPECT_EQ(pressKey(s, 'V', marlinKeys), keyAction::frameScene);
    EXPECT_EQ(pressKey(s, 'g', marlinKeys), keyAction::none); // only where lights are placed
    marlinKeys.lightPlacing = true;
    EXPECT_EQ(pressKey(s, 'g', marlinKeys), keyAction::lightToEye);
    Scene untouched;
    for (unsigned char other : {'x', 'q', ' ', '1', '\x1b'})
        EXPECT_EQ(pressKey(untouched, other), keyAction::none);
    EXPECT_EQ(untouched.renderMode, 1);
    EXPECT_EQ(untouched.showLights, 0);
}

TEST(capture, namesAndTheModeSwitchEvery360Frames)
{
    EXPECT_EQ(frameName(1), "frame0001.bmp");
    EXPECT_EQ(frameName(12345), "frame12345.bmp");

    struct Case {
        int mode, after;
    } cases[] = {{1, 3}, {3, 1}, {2, 1}};
    for (const Case& k : cases) {
        Scene s;
        s.renderMode = k.mode;
        consoleCapture capture;
        for (int i = 1; i < 359; ++i)
            countCapture(s, true);
        EXPECT_EQ(s.renderMode, k.mode);
        countCapture(s, true); // the 359th capture makes the counter 360
        EXPECT_EQ(s.renderMode, k.after);
        EXPECT_EQ(s.frameNumber, 360);
        EXPECT_EQ(capture.text().substr(0, 38), "Outputing frame: 1\nOutputing frame: 2\n");
    }
    Scene variant;
    consoleCapture quiet;
    for (int i = 0; i < 720; ++i)
        countCapture(variant, false);
    EXPECT_EQ(variant.renderMode, 1);
}

TEST(turntable, oneDegreeStepsAtAFixedElevation)
{
    Scene s;
    s.cameraElevation = -1;
    for (int i = 0; i < 360; ++i)
        advanceTurntable(s);
    EXPECT_NEAR(s.cameraAzimuth, 2 * M_PI, 1e-3);
    EXPECT_EQ(s.cameraElevation, 0.5);
}

TEST(circlingLights, redGreenAndBlueOnTheirCirclesOfRadiusThree)
{
    // Red in the x-y plane, green in x-z, blue in y-z. By the series,
    // cos 0.1 = 1 - 0.005 + 0.0000041667 - 0.0000000014 = 0.9950041653 and
    // sin 0.1 = 0.1 - 0.0001666667 + 0.0000000833 = 0.0998334166, each times the radius 3.
    const double c = 2.9850124958, s = 0.2995002499;
    struct Case {
        double angle;
        vector red, green, blue;
    } cases[] = {
        {0, {3, 0, 0}, {3, 0, 0}, {0, 3, 0}},
        {M_PI / 2, {0, -3, 0}, {0, 0, -3}, {0, 0, -3}},
        {M_PI, {-3, 0, 0}, {-3, 0, 0}, {0, -3, 0}},
        {0.1, {c, -s, 0}, {c, 0, -s}, {0, c, -s}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.angle);
        vector at[3];
        circlingLightPositions(k.angle, at);
        expectNear(at[0], k.red);
        expectNear(at[1], k.green);
        expectNear(at[2], k.blue);
    }
}

// Framing: every corner of every object inside the view's pyramid and between its planes, for
// scenes small, large, far from the origin and in windows of either shape.
TEST(camera, framingPutsEveryObjectInViewAndBetweenTheClippingPlanes)
{
    struct Case {
        const char* name;
        vector lo1, hi1, lo2, hi2;
        float width, height;
        double azimuth, elevation;
    } cases[] = {
        {"small at the origin", {-0.01, -0.01, -0.01}, {0.01, 0, 0.01}, {0, 0, 0}, {0.002, 0.03, 0.002}, 720, 576, 0, 0},
        {"large and far away", {4000, -3000, 800}, {6000, -1000, 1200}, {4500, -900, 900}, {5500, -800, 1000}, 720, 576, 0.7, 0.4},
        {"tall window", {-1, -1, -1}, {1, 1, 1}, {3, 0, 0}, {4, 6, 1}, 200, 700, 2.0, -0.3},
        {"flat", {-50, 0, -50}, {50, 0, 50}, {-50, 0, -50}, {-50, 0, -50}, 1280, 300, 0.0, 1.2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto a = testmeshes::withEdges(testmeshes::box(k.lo1, k.hi1));
        auto b = testmeshes::withEdges(testmeshes::box(k.lo2, k.hi2));
        b->polygons[0].position[0] = vector(NAN, 1e300 * 1e300, 0); // ignored, not framed
        Scene s;
        s.objects = {a.get(), b.get()};
        s.objectCount = 2;
        s.windowWidth = k.width;
        s.windowHeight = k.height;
        s.cameraAzimuth = k.azimuth;
        s.cameraElevation = k.elevation;
        ASSERT_TRUE(frameScene(s));
        const vector lo(std::min(k.lo1.x, k.lo2.x), std::min(k.lo1.y, k.lo2.y), std::min(k.lo1.z, k.lo2.z));
        const vector hi(std::max(k.hi1.x, k.hi2.x), std::max(k.hi1.y, k.hi2.y), std::max(k.hi1.z, k.hi2.z));
        expectNear(s.centre, (lo + hi) * 0.5);
        expectNear(s.eye - s.centre, vector(-std::cos(k.elevation) * std::cos(k.azimuth), std::sin(k.elevation),
                                            -std::cos(k.elevation) * std::sin(k.azimuth)) * s.viewDistance);
        // The camera's axes, as gluLookAt makes them with y up.
        vector forward = normalised(s.centre - s.eye);
        vector side = normalised(cross(forward, vector(0, 1, 0)));
        vector up = cross(side, forward);
        const double tanV = std::tan(fieldOfView * M_PI / 360), tanH = tanV * k.width / k.height;
        double nearest = 1e300, farthest = 0, widest = 0;
        for (const object* obj : s.objects)
            for (const polygon& p : obj->polygons)
                for (const vector& v : p.position) {
                    if (!std::isfinite(v.x))
                        continue;
                    vector d = v - s.eye;
                    double depth = dot(d, forward);
                    nearest = std::min(nearest, depth);
                    farthest = std::max(farthest, depth);
                    widest = std::max({widest, std::fabs(dot(d, side)) / (depth * tanH), std::fabs(dot(d, up)) / (depth * tanV)});
                }
        EXPECT_GT(nearest, s.nearPlane);
        EXPECT_LT(farthest, s.farPlane);
        EXPECT_LT(widest, 1.0);  // inside the window
        EXPECT_GT(widest, 0.35); // and not a dot in its middle
        EXPECT_LT(s.farPlane / s.nearPlane, 1000); // depth precision to spare

        // The light V brings: straight above the scene's top, a little towards the eye.
        const vector light = lightAboveScene(s);
        EXPECT_GT(light.y, hi.y);
        expectNear(light, s.centre + vector(0, 1.5 * s.framedRadius, 0) + normalised(s.eye - s.centre) * (0.25 * s.framedRadius));

        // Wheel turns zoom by tenths and stop while the centre is beyond the near plane and
        // within the far one.
        const double framed = s.viewDistance;
        mouseButton(s, 3, GLUT_DOWN);
        EXPECT_NEAR(s.viewDistance, framed * 0.9, framed * 1e-12);
        mouseButton(s, 4, GLUT_DOWN);
        EXPECT_NEAR(s.viewDistance, framed, framed * 1e-12);
        EXPECT_EQ(s.dragMode, 0);
        zoom(s, 100);
        EXPECT_EQ(s.viewDistance, 2 * s.nearPlane);
        expectNear(s.eye - s.centre, normalised(s.eye - s.centre) * (2 * s.nearPlane));
        zoom(s, -100);
        EXPECT_EQ(s.viewDistance, s.farPlane / 2);
    }

    Scene empty;
    auto none = testmeshes::withEdges({});
    empty.objects = {none.get()};
    empty.objectCount = 1;
    EXPECT_FALSE(frameScene(empty));
    EXPECT_EQ(empty.viewDistance, 10.0);
    EXPECT_EQ(empty.nearPlane, 0.1);
}
