#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"

class light;
class object;

// The plain forms of the lighting: every texel visited row by row, every light asked through
// its virtual operations, every material colour read per texel, the standard power function.
// Same results and console output as the library's forms, kept as the oracle.
// The light sums of one texel: the diffuse rule (a light counts when N.L in single precision is
// above 0), the specular rule (N.L before L is normalised, in double) or the all-terms rule
// (both sums, of the lights the diffuse rule counts).
enum class referenceRule { diffuse, specular, all };
struct referenceSums {
    float dr = 0, dg = 0, db = 0, sr = 0, sg = 0, sb = 0;
};
referenceSums referenceLightSums(referenceRule rule, vector p, vector n, light* lights, vector eye, double exponent);

void referenceAccumulateAmbient(object* obj, colour ambient);
void referenceAccumulateDiffuse(object* obj, light* lights, vector eye);
void referenceAccumulateSpecular(object* obj, light* lights, vector eye);
void referenceAccumulateAll(object* obj, light* lights, vector eye, colour ambient);
void referenceComposeFinal(object* obj);
void referenceRelight(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient,
                      bool composeWhenNone);
