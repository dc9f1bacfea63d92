#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "texlight/surfacemaps.h"
#include "texlight/tracedlight.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the objects of a scene file were made without, each already reported by an error line.
struct loadProblems {
    int coloursNotRead = 0;  // colour textures named but not read
    int bumpMapsNotRead = 0;
    int facesOutOfRange = 0; // faces naming a vertex, UV or normal index outside its list
    int objectsWithoutTriangles = 0;

    bool any() const { return coloursNotRead || bumpMapsNotRead || facesOutOfRange || objectsWithoutTriangles; }
};

// The global scene and view state of a viewer: window, camera, input, display switches,
// the objects and the lights. One instance, `scene`, lives for the whole run.
struct Scene {
    // View and input.
    float windowWidth = 720.0f;  // client size in pixels
    float windowHeight = 576.0f;
    double cameraAzimuth = 0.0;  // radians about the y axis, unbounded
    double cameraElevation = 0.0; // radians above the x-z plane, unbounded
    vector eye;                  // camera position, recomputed from the angles every frame
    vector centre;               // look-at point
    double viewDistance = 10.0;  // from the look-at point to the orbiting eye
    double nearPlane = 0.1;      // clipping distances of the perspective
    double farPlane = 100.0;
    double framedRadius = 0.0;   // of the bounding sphere V framed; 0 before
    int dragMode = 0;            // 0 none, 1 left (orbit), 2 middle, 3 right (move)
    int lastMouseX = -1;         // -1: no position known yet
    int lastMouseY = -1;
    int showLights = 0;          // draw each light's marker
    int shadowsOn = 1;           // run the shadow-volume pass for each light
    int renderMode = 1;          // 1 materials, 2 texture-space lighting, 3 outlines
    int turntable = 0;
    double turntableStep = 3.14159; // per frame, before the factor 1/180
    uint8_t ambientTerm = 0;     // lighting terms recomputed every frame in mode 2
    uint8_t diffuseTerm = 0;
    uint8_t specularTerm = 0;

    // Content.
    int objectCount = 0;
    int objectLines = 0; // object lines of the scene file, made into objects or skipped
    loadProblems problems;
    std::vector<object*> objects;                 // one per loaded scene line, in file order
    std::vector<std::unique_ptr<object>> owned;   // keeps the objects alive for the run
    light* lights = nullptr;                      // head of the light list
    bool lightPlaced = false;   // the first light came from the command line or was moved there by G
    pointlight defaultLight;
    vector defaultLightPosition;
    colour ambientColour = colour(100, 100, 100, 255);
    uint8_t prepareAmbient = 1; // lighting terms baked by the preparation
    uint8_t prepareDiffuse = 1;
    uint8_t prepareSpecular = 0;
    traceSettings tracing;      // rays through the whole scene before the bake; none by default
    traceReport traced;         // what they cost
    float lightModelAmbient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    int frameNumber = 1;        // number of the next captured frame
    std::string frameFileName;
    // C asks for a capture; the next drawn frame serves it before its buffers are swapped,
    // since after a swap the back buffer's contents are undefined.
    bool captureRequested = false;
    bool captureSwitchesModes = false; // marlin: every 360th capture flips mode 1 <-> 3

    // Per-program choices.
    alphaTestPoints alphaPoints = alphaTestPoints::centreThenCorner;
    double lightAngle = 0.0; // radians; the circling lights' angle, 0.1 more every frame
};

extern Scene scene;

// The flag toggle used by every key: 1 becomes 0, anything else becomes 1.
template <typename T>
void toggle(T& flag) { flag = (flag == 1) ? 0 : 1; }
