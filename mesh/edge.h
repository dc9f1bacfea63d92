#pragma once

#include "core/vector.h"

#include <cstdint>

// An undirected mesh edge with the one or two polygons on either side of it.
class edge {
public:
    edge() = default;
    edge(const edge&) = default;
    edge& operator=(const edge&) = default;
    virtual ~edge() = default;

    vector start;        // runs start -> end in the winding of firstFace
    vector end;
    int firstFace = -1;  // index into polygons of the polygon this edge was found on
    int secondFace = -1; // the lowest other polygon sharing both end points; -1 on a boundary
    uint8_t sharp = 0;   // 1 for a boundary edge or a crease
};
