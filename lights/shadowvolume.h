#pragma once

#include "core/vector.h"

#include <vector>

class object;
class polygon;

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

// Each triangle facing the light casts a volume of its own, bounded by the triangle (its near
// cap) and the quads of its three edges extruded away from the light; a triangle turned away
// casts nothing, so open meshes need no closing. Where facing triangles meet in opposite
// directions their quads cancel: an edge casts its quad once for each facing triangle that
// runs along it from start to end, less each that runs from end to start. A closed mesh's
// edge between a facing and an unfacing triangle counts one; a boundary edge one while its
// triangle faces the light; on an edge of three or more triangles the facing ones cancel in
// pairs. The stencil count at a point is then the number of facing triangles between it and
// the light.

// The side faces of the shadow volumes cast by every object with an edge list from a light at
// lightPosition, in object order and, within an object, in edge order (then the edges that
// only a third or later triangle on them makes cast). An edge counting m casts |m| equal quads,
// wound out of the volume. Rewrites every polygon's facing flag to describe lightPosition.
std::vector<quad> buildShadowQuads(object** objects, int count, vector lightPosition);

// The part of the camera's near clipping plane that the window shows, in world space: window
// coordinates (u, v), each -1 to 1, show the point centre + across * u + up * v.
struct nearRectangle {
    vector centre;
    vector across;
    vector up;
};

// A convex polygon of the near rectangle, in its window coordinates.
struct nearPolygon {
    int count = 0;
    double u[8];
    double v[8];
};

struct shadowVolumeSet {
    std::vector<quad> sides; // as buildShadowQuads
    // Where the near rectangle lies inside a volume, one polygon per volume it reaches into;
    // empty when the near rectangle is outside every volume.
    std::vector<nearPolygon> entries;
};

// buildShadowQuads, and where the volumes reach into the near rectangle of the view.
shadowVolumeSet buildShadowVolumes(object** objects, int count, vector lightPosition, const nearRectangle& view);

// The near caps: the polygons facing the light, of the objects with an edge list, in object
// and polygon order. Read the facing flags buildShadowQuads left.
std::vector<const polygon*> shadowCaps(object** objects, int count);

// Counts the quads into the stencil buffer with the depth-pass method: front faces add 1,
// back faces subtract 1, where they pass the depth test. Leaves the stencil test on with
// GL_ALWAYS/1, ops (KEEP, KEEP, DECR), culling of front faces, colour and depth writes on and
// the current colour black.
void drawShadowQuads(const std::vector<quad>& quads);

// The same counting started inside volumes: each entry adds 1 first, then the near caps count
// with the quads, pushed behind the triangles they lie on. Far caps are never needed, as the
// count stops at the surface seen. Leaves the state drawShadowQuads leaves.
void drawShadowVolumesWithCaps(const shadowVolumeSet& volumes, const std::vector<const polygon*>& caps);

// The near rectangle of the current projection, modelview matrix and viewport; false when
// they map no rectangle.
bool currentNearRectangle(nearRectangle& view);

// Builds and draws the shadow volumes of a light at lightPosition; shared by the light classes.
// While the near rectangle is outside every volume, as drawShadowQuads alone.
void drawShadowVolumesFrom(vector lightPosition, object** objects, int count);
