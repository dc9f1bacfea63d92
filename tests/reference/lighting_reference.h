#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"

class light;
class object;

// The plain forms of the lighting: every texel visited row by row, every light asked through
// its virtual operations, every material colour read per texel, the standard power function.
// Same results and console output as the library's forms, kept as the oracle.
void referenceAccumulateAmbient(object* obj, colour ambient);
void referenceAccumulateDiffuse(object* obj, light* lights, vector eye);
void referenceAccumulateSpecular(object* obj, light* lights, vector eye);
void referenceAccumulateAll(object* obj, light* lights, vector eye, colour ambient);
void referenceComposeFinal(object* obj);
void referenceRelight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
                      bool composeWhenNone);
