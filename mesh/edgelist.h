#pragma once

#include "mesh/edge.h"
#include "mesh/polygon.h"

class object;

// Lists every distinct edge of the mesh once, in the order found (polygon by polygon, corner
// pairs (0,1), (1,2), (2,0)), with the lowest other polygon sharing it and a sharp flag for
// boundaries and creases; normalises every face normal again; prints progress and totals.
// Edges are told apart by exactly equal end positions, not by vertex indices.
void buildEdgeList(object* obj);

// True when one of the first count entries of list joins the same two points, either way round.
bool edgeExists(const edge& candidate, const edge* list, int count);

// The first polygon other than current that has the candidate's end points as two different
// corners, or -1. Linear in count.
int findNeighbourFace(int current, const edge& candidate, const polygon* polys, int count);
