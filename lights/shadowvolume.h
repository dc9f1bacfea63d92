#pragma once

#include "core/vector.h"

#include <vector>

class object;

// One side face of a shadow volume: an extruded silhouette edge.
class quad {
public:
    vector corners[4]; // in drawing order; the counter-clockwise side faces out of the volume
    vector faceNormal; // unit normal of the face before the winding choice; not used in drawing
};

// How far the far corners of a shadow volume lie beyond the edge, along the light's rays.
constexpr double shadowExtrusion = 1000.0;

// The far corner of a silhouette end point: moved shadowExtrusion units further along the ray
// from the light through it. A point at the light itself stays where it is.
vector farCorner(vector point, vector lightPosition);

// The side faces of the shadow volumes cast by every object from a light at lightPosition,
// in object order and, within an object, in edge order. Rewrites every polygon's facing flag
// to describe lightPosition. Silhouette edges are boundary edges and edges between a polygon
// facing the light and one facing away.
std::vector<quad> buildShadowQuads(object** objects, int count, vector lightPosition);

// Counts the quads into the stencil buffer with the depth-pass method: front faces add 1,
// back faces subtract 1, where they pass the depth test. Leaves the stencil test on with
// GL_ALWAYS/1, ops (KEEP, KEEP, DECR), culling of front faces, colour and depth writes on and
// the current colour black.
void drawShadowQuads(const std::vector<quad>& quads);

// Builds and draws the shadow volumes of a light at lightPosition; shared by the light classes.
void drawShadowVolumesFrom(vector lightPosition, object** objects, int count);
