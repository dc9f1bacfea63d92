#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"
#include "texlight/surfacemaps.h"
#include "texlight/tracedlight.h"

class light;
class object;

// What the scene hands the preparation of each object.
struct preparationSettings {
    lightingTerms terms{1, 1, 0};        // lighting terms baked at start
    colour ambientColour{100, 100, 100, 255}; // the scene's ambient light
    light* lights = nullptr;             // head of the light list
    vector eye;                          // camera position, for the specular term
    alphaTestPoints alphaPoints = alphaTestPoints::centreThenCorner;
    bool deferLighting = false; // leave the bitmaps black: rays through the whole scene come first
};

// Everything of the preparation but OpenGL: a layout for a mesh without texture coordinates,
// texture-coordinate repair and scaling, edge list, surface maps, material and baked
// lighting. Needs no GL context, so it also serves programs without a window.
void prepareObjectData(object* obj, colour ambient, colour diffuse, colour specular,
                       const preparationSettings& settings);
// The OpenGL half: display lists of the triangles and of their shading copies, the lightmap
// and colour textures. Needs a current GL context.
void uploadObject(object* obj);
// Both, as the viewers prepare every object: a loaded object becomes a drawable one.
void prepareObject(object* obj, colour ambient, colour diffuse, colour specular,
                   const preparationSettings& settings);

// The lighting of objects prepared with deferLighting: rays traced through all of them as
// trace asks, then the terms of each object it wants baked with what they found.
traceReport lightTracedObjects(object* const* objects, int count, const preparationSettings& settings,
                               const traceSettings& trace);
