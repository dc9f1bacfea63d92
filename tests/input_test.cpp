#include "core/console.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

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
