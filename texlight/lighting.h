#pragma once

#include "core/colour.h"
#include "core/vector.h"

#include <cstdint>

class light;
class object;

// Map kinds: the four lighting bitmaps and the three texture-space tables.
enum TextureKind : unsigned {
    diffuseKind = 0,
    ambientKind = 1,
    specularKind = 2,
    finalKind = 3,
    alphaKind = 4,
    normalsKind = 5,
    positionsKind = 6,
};

// Clears the lighting bitmap of kind 0-3 to black, announcing it on the console.
void initialiseBitmap(object* obj, int kind);
// Makes material channel 0 (diffuse), 1 (ambient) or 2 (specular) the uniform colour c.
void setMaterialColour(object* obj, int channel, colour c);

// Each lights the texels covered by a polygon facing the viewer (every shading polygon) and
// leaves the other pixels as they are.
void accumulateAmbient(object* obj, colour ambient);
void accumulateDiffuse(object* obj, light* lights, vector eye);
void accumulateSpecular(object* obj, light* lights, vector eye);
// The three terms summed straight into finalBitmap, without per-term clamping or truncation.
void accumulateAll(object* obj, light* lights, vector eye, colour ambient);
// finalBitmap = saturating sum of the ambient, diffuse and specular bitmaps.
void composeFinal(object* obj);

// Which terms to recompute: all three in one pass, or the chosen terms one by one and then
// their sum. With no term chosen, the sum is formed only when composeWhenNone is set.
struct lightingTerms {
    uint8_t ambient;
    uint8_t diffuse;
    uint8_t specular;
};
// The rows [first, end) of finalBitmap that hold every byte a relighting changed; none when
// first == end.
struct changedRows {
    int first = 0;
    int end = 0;
};
// The work is shared out by rows among the threads of sharedWorkers() (core/workers.h) when
// the lights and materials allow it; the bytes are the same for any number of threads.
changedRows relight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
                    bool composeWhenNone);

// Whether relighting may use eight-lane registers where the processor has them (true at
// start). For tests and benchmarks: both ways give the same bytes.
void allowWideRelighting(bool allowed);
