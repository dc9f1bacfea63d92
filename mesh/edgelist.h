#pragma once

#include "mesh/edge.h"
#include "mesh/polygon.h"

class object;

// Lists every distinct edge of the mesh once, in the order found (polygon by polygon, corner
// pairs (0,1), (1,2), (2,0)), with the lowest other polygon sharing it and a sharp flag for
// boundaries and creases; normalises every face normal again; prints progress and totals.
// Edges are told apart by exactly equal end positions, not by vertex indices.
void buildEdgeList(object* obj);
