#pragma once

#include "core/vector.h"

#include <cstdint>

// One triangle: ten vector slots (positions, texture coordinates, normals, face normal).
class polygon {
public:
    polygon() = default;
    polygon(const polygon&) = default;
    polygon& operator=(const polygon&) = default;
    virtual ~polygon() = default;

    vector position[3]; // object space
    vector texCoord[3]; // u in x, v in y, z = 0
    vector normal[3];   // as stored in the file, not normalised
    vector faceNormal;  // unit normal by the right-hand rule; (0, 0, 0) when degenerate
    uint8_t facing = 1; // 1 when the front faces the point last given to markFacing
    uint8_t uvClockwise = 0; // set by checkUvWinding: the shading copy gets corners 1 and 2 of its texture exchanged
};
