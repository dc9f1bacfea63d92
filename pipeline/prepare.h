#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"
#include "texlight/surfacemaps.h"

class light;
class object;

// What the scene hands the preparation of each object.
struct preparationSettings {
    lightingTerms terms{1, 1, 0};        // lighting terms baked at start
    colour ambientColour{100, 100, 100, 255}; // the scene's ambient light
    light* lights = nullptr;             // head of the light list
    vector eye;                          // camera position, for the specular term
    alphaTestPoints alphaPoints = alphaTestPoints::centreThenCorner;
};

// Turns a loaded object into a drawable one: texture-coordinate repair and scaling, edge
// list, surface maps, baked lighting, display lists and textures. Needs a current GL context.
void prepareObject(object* obj, colour ambient, colour diffuse, colour specular,
                   const preparationSettings& settings);
