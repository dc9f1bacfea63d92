#pragma once

#include "texlight/surfacemaps.h"

class object;

// The brute-force form of generateAlphaMap: every texel that misses the cached polygon tries
// the polygons from the first one on. Same results and console output, kept as the oracle.
void referenceGenerateAlphaMap(object* obj, alphaTestPoints points = alphaTestPoints::centreThenCorner);
// Its search with progress lines, and its gap filling, on their own.
void referenceRasteriseAlphaMap(object* obj, alphaTestPoints points);
void referenceFillAlphaMapGaps(object* obj);
