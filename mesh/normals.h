#pragma once

#include <cstdint>
#include <vector>

class object;

// Gives each marked corner (bit k of marked[i] for corner k of polygon i) the angle-weighted
// average of the face normals of the polygons that share its position and meet its face at
// less than the object's sharp-edge angle (a dot product above sharpEdgeThreshold), so that
// smooth surfaces shade smoothly and creases stay hard. A corner of a face without area
// keeps (0, 0, 0). Returns the number of corners given a normal. The work is linear in the
// corners, except at a position whose many faces point too many ways, or meet too near the
// sharp-edge angle, to be grouped: its corners are tested in pairs.
long long computeCornerNormals(object& obj, const std::vector<uint8_t>& marked);
