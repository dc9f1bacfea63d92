#pragma once

#include "core/vector.h"

#include <array>
#include <vector>

class light;
class object;
class polygon;

// The normals sent for a polygon's three corners, bent towards the lights so that lit areas
// come out flat and bright: per light, a corner within 60 degrees of it adds the light
// direction; otherwise its normal is replaced by a blend from the file normal towards the
// light. Normalised; (0, 0, 0) each with no lights.
std::array<vector, 3> bentNormals(const polygon& poly, light* lights);

// Indices, in edge order, of the edges outlined with the current facing flags: sharp edges,
// and edges between a polygon facing the viewer and one facing away.
std::vector<int> outlineEdges(const object& obj);

// Draws the front-facing triangles of obj seen from eye, lit through OpenGL with bent normals,
// then its outlines in one third of the diffuse colour. Rewrites the facing flags for eye.
// Leaves lighting off, culling on, smooth shading, polygon offset fill (1, 2), line width 2
// and depth function GL_LEQUAL.
void drawLitWithOutlines(object* obj, vector eye, light* lights);
