#pragma once

#include "core/vector.h"
#include "mesh/polygon.h"

#include <vector>

class object;

// Which two texture-space points decide whether a texel is covered. The first point is also
// the one the cached polygon is tried with.
enum class alphaTestPoints {
    centreThenCorner, // (x + 0.5, y + 0.5) / size, then (x, y) / size
    cornerThenBack,   // (x, y) / size, then (x - 0.5, y - 0.5) / size
};

// The corner value that interpolateCorners spreads across a triangle.
enum class cornerAttribute { position, normal };

// For every texel, the first shading polygon whose texture triangle holds one of the two test
// points (the polygon of the previous texel is tried first, with the first point only), then
// the gaps filled from neighbours; prints progress. Meant for a fresh, zeroed alphaMap.
void generateAlphaMap(object* obj, alphaTestPoints points = alphaTestPoints::centreThenCorner);
// The two halves of generateAlphaMap: the search with its progress lines, and one in-place
// scan-order pass that copies a neighbour into each empty texel. No line break is printed.
void rasteriseAlphaMap(object* obj, alphaTestPoints points);
void fillAlphaMapGaps(object* obj);
// The gap filling of a generated layout (generatedUvs), used by generateAlphaMap in its
// place: each empty texel next to a covered one (sides first, then corners) takes that
// texel's polygon, and nothing further. The scan-order pass would carry one chart's polygon
// across the gutter to the next chart, whose filtered edge would then show that chart's
// lighting far outside it as a seam.
void fillAroundCharts(object* obj);

// Scanline interpolation of a corner attribute at texture-space point p (x = u, y = v), with
// the edge lines extended beyond the triangle. Where the span has no width (p level with the
// pivot corner) the triangle's affine interpolation stands in; zero for a triangle whose
// corners all share one v or have no area.
vector interpolateCorners(const polygon& p, cornerAttribute which, vector point);

// Surface point and bump-tilted unit normal at every texel corner of a covered texel, (0, 0, 0)
// elsewhere. Both read alphaMap, so they follow generateAlphaMap; both print progress.
void generatePositionsMap(object* obj);
void generateNormalsMap(object* obj);

// Answers "which is the lowest-numbered triangle whose texture coordinates contain p under
// pointInTriangle" for points inside a fixed box, without testing every triangle.
//
// A triangle whose corner orientation is certain and whose inradius is well above the rounding
// of the inside test can only accept points close to its bounding box; it is listed in the
// cells its widened box overlaps. Everything else (collinear or coincident corners, slivers,
// tiny or non-finite triangles) may accept points anywhere, and is tried for every query.
// pointInTriangle decides every candidate; the cells and the cheap pre-tests only skip
// triangles that provably cannot pass it.
class uvTriangleIndex {
public:
    // Queries must lie in [minX, maxX] x [minY, maxY]; the rounding bounds depend on it.
    uvTriangleIndex(const polygon* polys, int count, double minX, double minY, double maxX, double maxY);

    // The lowest index below `below` whose triangle contains p, or -1.
    int lowestContaining(const vector& p, int below) const;

    int alwaysTriedCount() const { return static_cast<int>(alwaysTried.size()); }
    int cellColumns() const { return columns; }
    int cellRows() const { return rows; }

private:
    struct facts {
        double boxMinX, boxMinY, boxMaxX, boxMaxY; // widened; only meaningful when boxed
        double startX[3], startY[3];
        double normalX[3], normalY[3];   // as pointInTriangle forms them
        double slack[3];                 // rounding allowance of each side value
        bool boxed = false;
        bool sideTested = false;         // the side pre-test is sound for this triangle
    };

    facts describe(const vector* texCoord, double maxX, double maxY) const;
    void sizeCells(const std::vector<int>& boxedList, double maxX, double maxY);
    void fillCells(const std::vector<int>& boxedList);
    bool mayContain(const facts& f, double px, double py) const;
    int cellColumn(double x) const;
    int cellRow(double y) const;

    const polygon* polys;
    double minX, minY; // where the cells start
    int columns = 1, rows = 1;
    double cellScaleX = 0, cellScaleY = 0;
    std::vector<facts> triangles;
    std::vector<int> cellStart; // columns * rows + 1 offsets into cellEntries
    std::vector<int> cellEntries;
    std::vector<int> alwaysTried;
};
