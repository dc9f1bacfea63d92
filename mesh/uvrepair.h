#pragma once

class object;

// Marks every polygon whose texture triangle is clockwise (uvClockwise); the polygons keep
// the file's texture coordinates.
void checkUvWinding(object* obj);

// Builds shadingPolygons: copies of polygons whose texture coordinates are made
// counter-clockwise (corners 1 and 2 exchanged where marked) and stretched so that the uvs
// list spans exactly 0-1 in u and in v. Positions and normals stay where they are.
void normaliseUvs(object* obj);
