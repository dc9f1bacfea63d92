#pragma once

class object;

// The quadratic form of buildEdgeList: every candidate is checked against all edges found so
// far and all polygons. Same results and console output, kept as the oracle.
void referenceBuildEdgeList(object* obj);
