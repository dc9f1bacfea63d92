#pragma once

#include <cstdint>
#include <vector>

class object;

// The pairwise form of computeCornerNormals: each corner visits every corner at its position
// and recomputes its angle. Same normals, bit for bit, kept as the oracle.
long long referenceComputeCornerNormals(object& obj, const std::vector<uint8_t>& marked);
