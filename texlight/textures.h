#pragma once

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"

class bitmap;
class light;
class object;
class polygon;

// A new 2-D texture holding the bitmap's RGB bytes, linear filtering, with the given wrap mode
// (GL_CLAMP for lightmaps, GL_REPEAT for colour textures). Needs a current GL context.
unsigned int createTexture(const bitmap& image, int wrapMode);
// Re-specifies the image of the texture bound to GL_TEXTURE_2D from the bitmap.
void uploadTexture(const bitmap& image);
// Replaces rows [first, end) of the texture bound to GL_TEXTURE_2D, which has the bitmap's
// size, by the bitmap's 3-byte rows.
void uploadTextureRows(const bitmap& image, int first, int end);
// Relights the chosen terms of obj's lightmap (all of it when whole, else the rows the lights
// changed) and sends the rows that changed to the texture bound to GL_TEXTURE_2D.
void relightTexture(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient, bool whole);
// A display list drawing the triangles with their normals and texture coordinates; 0 for none.
unsigned int compileTriangleList(const polygon* polys, int count);

// Texture-space mode: relights the chosen terms and sends the rows of the lightmap that this
// changed, then draws the shading list with the lightmap. Skips objects not pickable and
// visible. Whoever changes finalBitmap otherwise uploads it (uploadTexture), so that the
// texture always holds it.
void drawTextureSpaceLit(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient);
// Material mode: OpenGL lighting with the object's material colours and its colour texture.
void drawWithMaterials(object* obj);
