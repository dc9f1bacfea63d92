#pragma once

class object;

// Makes every polygon's texture triangle counter-clockwise by exchanging the texture
// coordinates of corners 1 and 2 (positions and normals stay where they are).
void checkUvWinding(object* obj);

// Builds shadingPolygons: copies of polygons whose texture coordinates are stretched so that
// the uvs list spans exactly 0-1 in u and in v.
void normaliseUvs(object* obj);
