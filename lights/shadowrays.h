#pragma once

#include "core/vector.h"
#include "mesh/polygon.h"

class object;

// Whether q, a point on the plane of the counter-clockwise triangle poly, lies strictly
// inside it; a point on an edge is outside.
bool pointInPolygon(const vector& q, const polygon& poly);

// Whether the first 90 % of the segment from p along d crosses poly from its front side.
bool segmentHitsPolygon(const vector& d, const vector& p, const polygon& poly);

// Whether any polygon of the objects blocks the path from p along d (d = light - p, not
// normalised). Stops at the first blocker.
bool shadowRayBlocked(vector d, vector p, object* const* objects, int count);
