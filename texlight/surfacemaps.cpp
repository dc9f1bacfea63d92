#include "texlight/surfacemaps.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "core/progress.h"
#include "mesh/object.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace {

// Half an ulp of 1.0: the relative error of one rounded double operation.
const double unitRoundoff = std::ldexp(1.0, -53);

// Nothing from an ordinary mesh comes near this; beyond it squares and products could
// overflow or underflow and the rounding bounds below would not hold.
const double largestTrusted = 1e100;
const double shortestTrustedEdge = 1e-100;

// A bump map's grey levels become gradients through the single-precision 1/255.
const float oneOver255 = 1.0f / 255.0f;

void testPointsAt(alphaTestPoints points, int x, int y, double du, double dv, vector& first, vector& second)
{
    if (points == alphaTestPoints::cornerThenBack) {
        first = vector(x * du, y * dv, 0);
        second = vector(x * du - du * 0.5, y * dv - dv * 0.5, 0);
    } else {
        first = vector(x * du + du * 0.5, y * dv + dv * 0.5, 0);
        second = vector(x * du, y * dv, 0);
    }
}

bool insideTexCoords(const vector& p, const polygon& poly)
{
    return pointInTriangle(p, poly.texCoord[0], poly.texCoord[1], poly.texCoord[2]);
}

bool trusted(double v) { return std::isfinite(v) && std::fabs(v) <= largestTrusted; }

} // namespace

uvTriangleIndex::uvTriangleIndex(const polygon* polys, int count, double minX, double minY, double maxX,
                                 double maxY)
    : polys(polys), minX(minX), minY(minY)
{
    triangles.resize(count > 0 ? static_cast<size_t>(count) : 0);
    std::vector<int> boxedList;
    for (int i = 0; i < count; ++i) {
        const vector* t = polys[i].texCoord;
        bool allTrusted = true;
        for (int k = 0; k < 3; ++k)
            allTrusted = allTrusted && trusted(t[k].x) && trusted(t[k].y) && trusted(t[k].z);
        if (!allTrusted) {
            // NaN sides never compare below 0, so such a triangle may accept anything.
            alwaysTried.push_back(i);
            continue;
        }
        const facts& f = triangles[static_cast<size_t>(i)] = describe(t, maxX, maxY);
        if (!f.boxed) {
            alwaysTried.push_back(i);
            continue;
        }
        // A box that misses the query area can never be asked about.
        if (f.boxMaxX < minX || f.boxMinX > maxX || f.boxMaxY < minY || f.boxMinY > maxY)
            continue;
        boxedList.push_back(i);
    }
    sizeCells(boxedList, maxX, maxY);
    fillCells(boxedList);
}

uvTriangleIndex::facts uvTriangleIndex::describe(const vector* t, double maxX, double maxY) const
{
    const double u = unitRoundoff;
    facts f{};
    // The side pre-test: the same normals as pointInTriangle, and an allowance of twice the
    // worst rounding of one side value over the query box, so a rejection here means
    // pointInTriangle's own side value is negative too.
    double reachX = 0, reachY = 0;
    double edgeLength[3];
    for (int k = 0; k < 3; ++k) {
        const vector& s = t[k];
        const vector& e = t[(k + 1) % 3];
        vector d = normalised(e - s);
        f.startX[k] = s.x;
        f.startY[k] = s.y;
        f.normalX[k] = -d.y;
        f.normalY[k] = d.x;
        double rx = std::max(std::fabs(maxX - s.x), std::fabs(minX - s.x));
        double ry = std::max(std::fabs(maxY - s.y), std::fabs(minY - s.y));
        reachX = std::max(reachX, rx);
        reachY = std::max(reachY, ry);
        f.slack[k] = 8 * u * (std::fabs(d.y) * rx + std::fabs(d.x) * ry) + 1e-300;
        vector v = e - s;
        edgeLength[k] = std::sqrt(v.x * v.x + v.y * v.y);
    }
    f.sideTested = true;

    // Confinement to the bounding box. With unit normals (equal z) each computed side
    // value is within E of the true distance to the edge line for every query point, so
    // an accepted point lies inside the triangle grown outward by E: the triangle scaled
    // about its incentre by (r + E) / r, whose box exceeds the triangle's by E / r of its
    // size. A clockwise triangle with r > E accepts nothing. Both need the orientation
    // and a lower bound of r beyond doubt.
    bool boxable = t[0].z == t[1].z && t[1].z == t[2].z;
    for (int k = 0; k < 3; ++k)
        boxable = boxable && edgeLength[k] >= shortestTrustedEdge;
    if (boxable) {
        double p1 = (t[1].x - t[0].x) * (t[2].y - t[0].y);
        double p2 = (t[1].y - t[0].y) * (t[2].x - t[0].x);
        double twiceArea = std::fabs(p1 - p2);
        double areaError = 8 * u * (std::fabs(p1) + std::fabs(p2)) + 1e-290;
        double roundingReach = 32 * u * (reachX + reachY) + 1e-280;
        if (twiceArea > areaError) {
            double perimeter = (edgeLength[0] + edgeLength[1] + edgeLength[2]) * (1 + 1e-12);
            double inradius = (twiceArea - areaError) / perimeter * (1 - 1e-12);
            if (inradius > 2 * roundingReach) {
                double bx0 = std::min({t[0].x, t[1].x, t[2].x});
                double bx1 = std::max({t[0].x, t[1].x, t[2].x});
                double by0 = std::min({t[0].y, t[1].y, t[2].y});
                double by1 = std::max({t[0].y, t[1].y, t[2].y});
                double margin = 2 * (roundingReach / inradius) * std::max(bx1 - bx0, by1 - by0) + roundingReach;
                f.boxMinX = bx0 - margin;
                f.boxMaxX = bx1 + margin;
                f.boxMinY = by0 - margin;
                f.boxMaxY = by1 + margin;
                f.boxed = true;
            }
        }
    }
    return f;
}

// Cells about the size of a typical triangle, so that a cell lists a few of them.
void uvTriangleIndex::sizeCells(const std::vector<int>& boxedList, double maxX, double maxY)
{
    double width = maxX - minX, height = maxY - minY;
    if (!boxedList.empty() && width > 0 && height > 0) {
        std::vector<double> sizes;
        sizes.reserve(boxedList.size());
        for (int i : boxedList) {
            const facts& f = triangles[static_cast<size_t>(i)];
            double w = std::min(f.boxMaxX, maxX) - std::max(f.boxMinX, minX);
            double h = std::min(f.boxMaxY, maxY) - std::max(f.boxMinY, minY);
            sizes.push_back(std::max(w, h));
        }
        auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
        std::nth_element(sizes.begin(), middle, sizes.end());
        double cellSize = std::max(*middle, std::max(width, height) / 4096);
        double cellLimit = std::min(4.0 * 1024 * 1024, 4.0 * static_cast<double>(boxedList.size()) + 16);
        columns = static_cast<int>(std::min(4096.0, std::max(1.0, std::ceil(width / cellSize))));
        rows = static_cast<int>(std::min(4096.0, std::max(1.0, std::ceil(height / cellSize))));
        while (static_cast<double>(columns) * rows > cellLimit) {
            columns = std::max(1, columns / 2);
            rows = std::max(1, rows / 2);
        }
    }

    // Coarsen while large overlapping triangles would make the lists too long.
    const double entryLimit = 32.0 * static_cast<double>(boxedList.size()) + 65536;
    for (;;) {
        cellScaleX = width > 0 ? columns / width : 0;
        cellScaleY = height > 0 ? rows / height : 0;
        double entries = 0;
        for (int i : boxedList) {
            const facts& f = triangles[static_cast<size_t>(i)];
            entries += double(cellColumn(f.boxMaxX) - cellColumn(f.boxMinX) + 1) *
                       double(cellRow(f.boxMaxY) - cellRow(f.boxMinY) + 1);
        }
        if (entries <= entryLimit || (columns == 1 && rows == 1))
            break;
        columns = std::max(1, columns / 2);
        rows = std::max(1, rows / 2);
    }
}

// Filled in index order, so that every cell lists its triangles lowest first.
void uvTriangleIndex::fillCells(const std::vector<int>& boxedList)
{
    size_t cellCount = static_cast<size_t>(columns) * static_cast<size_t>(rows);
    cellStart.assign(cellCount + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<int> fill;
        if (pass == 1) {
            for (size_t c = 0; c < cellCount; ++c)
                cellStart[c + 1] += cellStart[c];
            cellEntries.resize(static_cast<size_t>(cellStart[cellCount]));
            fill.assign(cellStart.begin(), cellStart.end() - 1);
        }
        for (int i : boxedList) {
            const facts& f = triangles[static_cast<size_t>(i)];
            int c0 = cellColumn(f.boxMinX), c1 = cellColumn(f.boxMaxX);
            int r0 = cellRow(f.boxMinY), r1 = cellRow(f.boxMaxY);
            for (int r = r0; r <= r1; ++r)
                for (int c = c0; c <= c1; ++c) {
                    size_t cell = static_cast<size_t>(r) * columns + c;
                    if (pass == 0)
                        ++cellStart[cell + 1];
                    else
                        cellEntries[static_cast<size_t>(fill[cell]++)] = i;
                }
        }
    }
}

// Monotone in x, so a point inside a box always falls in one of the box's cells.
int uvTriangleIndex::cellColumn(double x) const
{
    double t = (x - minX) * cellScaleX;
    if (!(t >= 0))
        return 0;
    if (t >= columns)
        return columns - 1;
    return static_cast<int>(t);
}

int uvTriangleIndex::cellRow(double y) const
{
    double t = (y - minY) * cellScaleY;
    if (!(t >= 0))
        return 0;
    if (t >= rows)
        return rows - 1;
    return static_cast<int>(t);
}

bool uvTriangleIndex::mayContain(const facts& f, double px, double py) const
{
    if (f.boxed && (px < f.boxMinX || px > f.boxMaxX || py < f.boxMinY || py > f.boxMaxY))
        return false;
    if (f.sideTested)
        for (int k = 0; k < 3; ++k) {
            double side = f.normalX[k] * (px - f.startX[k]) + f.normalY[k] * (py - f.startY[k]);
            if (side < -f.slack[k])
                return false;
        }
    return true;
}

int uvTriangleIndex::lowestContaining(const vector& p, int below) const
{
    size_t cell = static_cast<size_t>(cellRow(p.y)) * columns + cellColumn(p.x);
    const int* c = cellEntries.data() + cellStart[cell];
    const int* cellEnd = cellEntries.data() + cellStart[cell + 1];
    const int* a = alwaysTried.data();
    const int* alwaysEnd = a + alwaysTried.size();
    for (;;) {
        int fromCell = c != cellEnd ? *c : INT_MAX;
        int fromAlways = a != alwaysEnd ? *a : INT_MAX;
        // Tested before stepping on: an empty list has no pointer to step past.
        int i = std::min(fromCell, fromAlways);
        if (i == INT_MAX || i >= below)
            return -1;
        if (fromCell < fromAlways)
            ++c;
        else
            ++a;
        if (mayContain(triangles[static_cast<size_t>(i)], p.x, p.y) && insideTexCoords(p, polys[i]))
            return i;
    }
}

void rasteriseAlphaMap(object* obj, alphaTestPoints points)
{
    const int W = obj->finalBitmap->width;
    const int H = obj->finalBitmap->height;
    // A mesh without texture coordinates has no shading polygons, and so covers nothing.
    const int n = static_cast<int>(std::min(static_cast<size_t>(std::max(obj->polygonCount, 0)),
                                            obj->shadingPolygons.size()));
    polygon* polys = obj->shadingPolygons.data();
    const double du = 1.0 / W;
    const double dv = 1.0 / H;

    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    vector first, second;
    for (int x = 0; x < W; ++x) {
        testPointsAt(points, x, 0, du, dv, first, second);
        double lo = std::min(first.x, second.x), hi = std::max(first.x, second.x);
        minX = x == 0 ? lo : std::min(minX, lo);
        maxX = x == 0 ? hi : std::max(maxX, hi);
    }
    for (int y = 0; y < H; ++y) {
        testPointsAt(points, 0, y, du, dv, first, second);
        double lo = std::min(first.y, second.y), hi = std::max(first.y, second.y);
        minY = y == 0 ? lo : std::min(minY, lo);
        maxY = y == 0 ? hi : std::max(maxY, hi);
    }
    uvTriangleIndex index(polys, n, minX, minY, maxX, maxY);

    const int64_t total = int64_t(W) * H * n;
    int64_t counter = 0;
    int last = -1; // the polygon of the previous hit, tried first
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            testPointsAt(points, x, y, du, dv, first, second);
            bool found = false;
            if (last >= 0) {
                if (insideTexCoords(first, polys[last]))
                    found = true;
                else
                    last = -1;
            }
            if (!found) {
                // The lowest polygon holding either point: the second point only matters
                // below the first point's answer.
                int hit = index.lowestContaining(first, n);
                int other = index.lowestContaining(second, hit < 0 ? n : hit);
                if (other >= 0)
                    hit = other;
                if (hit >= 0) {
                    found = true;
                    last = hit;
                }
            }
            if (found)
                obj->alphaMap[x][y] = &polys[last];
        }
        counter += int64_t(n) * W;
        sayProgress("Generating Alpha Map: ", progressPercent(counter, total));
    }
}

void fillAlphaMapGaps(object* obj)
{
    const int W = obj->finalBitmap->width;
    const int H = obj->finalBitmap->height;
    grid<polygon*>& map = obj->alphaMap;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            polygon*& entry = map[x][y];
            if (!entry && x < W - 1) {
                if (map[x + 1][y])
                    entry = map[x + 1][y];
                else if (x > 0 && map[x - 1][y])
                    entry = map[x - 1][y];
            }
            if (!entry && y < H - 1) {
                if (map[x][y + 1])
                    entry = map[x][y + 1];
                else if (y > 0 && map[x][y - 1])
                    entry = map[x][y - 1];
            }
        }
}

void fillAroundCharts(object* obj)
{
    const int W = obj->finalBitmap->width;
    const int H = obj->finalBitmap->height;
    grid<polygon*>& map = obj->alphaMap;
    const int steps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
    // Chosen from the covered texels alone, then written, so nothing spreads further.
    std::vector<std::pair<size_t, polygon*>> fills;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (map[x][y])
                continue;
            for (const auto& s : steps) {
                const int nx = x + s[0], ny = y + s[1];
                if (nx >= 0 && ny >= 0 && nx < W && ny < H && map[nx][ny]) {
                    fills.emplace_back(static_cast<size_t>(y) * W + x, map[nx][ny]);
                    break;
                }
            }
        }
    for (const auto& f : fills)
        map[static_cast<int>(f.first % W)][static_cast<int>(f.first / W)] = f.second;
}

void generateAlphaMap(object* obj, alphaTestPoints points)
{
    rasteriseAlphaMap(obj, points);
    if (obj->generatedUvs)
        fillAroundCharts(obj);
    else
        fillAlphaMapGaps(obj);
    sayText("\n");
}

vector interpolateCorners(const polygon& p, cornerAttribute which, vector point)
{
    const vector* values = which == cornerAttribute::position ? p.position : p.normal;
    const vector* uvA = &p.texCoord[0];
    const vector* uvB = &p.texCoord[1];
    const vector* uvC = &p.texCoord[2];
    const vector* xA = &values[0];
    const vector* xB = &values[1];
    const vector* xC = &values[2];
    int turns = 0;
    while (uvA->y - uvB->y == 0 || uvC->y - uvB->y == 0) {
        // All three corners level: no corner can be the pivot.
        if (turns == 2)
            return vector();
        std::swap(uvA, uvB); // (A, B, C) <- (B, C, A)
        std::swap(uvB, uvC);
        std::swap(xA, xB);
        std::swap(xB, xC);
        ++turns;
    }

    double d1 = uvA->y - uvB->y;
    if (d1 == 0)
        return vector();
    double wB = (uvA->y - point.y) / d1;
    double wA = (point.y - uvB->y) / d1;
    double leftU = uvB->x * wB + uvA->x * wA;
    vector left = *xB * wB + *xA * wA;

    double d2 = uvC->y - uvB->y;
    if (d2 == 0)
        return vector();
    double wB2 = (uvC->y - point.y) / d2;
    double wC = (point.y - uvB->y) / d2;
    double rightU = uvB->x * wB2 + uvC->x * wC;
    vector right = *xB * wB2 + *xC * wC;

    double d3 = rightU - leftU;
    if (d3 == 0) {
        // p is level with the pivot, so the span has shrunk to a point: interpolate over the
        // whole triangle instead, or every texel row through a corner would come out black.
        double det = (uvA->x - uvB->x) * (uvC->y - uvB->y) - (uvC->x - uvB->x) * (uvA->y - uvB->y);
        if (det == 0)
            return vector();
        double a = ((point.x - uvB->x) * (uvC->y - uvB->y) - (uvC->x - uvB->x) * (point.y - uvB->y)) / det;
        double c = ((uvA->x - uvB->x) * (point.y - uvB->y) - (point.x - uvB->x) * (uvA->y - uvB->y)) / det;
        return *xB + (*xA - *xB) * a + (*xC - *xB) * c;
    }
    return right * ((point.x - leftU) / d3) + left * ((rightU - point.x) / d3);
}

void generatePositionsMap(object* obj)
{
    const int W = obj->finalBitmap->width;
    const int H = obj->finalBitmap->height;
    const double du = 1.0 / W;
    const double dv = 1.0 / H;
    const int64_t total = int64_t(W) * H * obj->polygonCount;
    int64_t counter = 0;
    for (int y = 0; y < H; ++y) {
        vector* row = obj->positionsMap[y];
        for (int x = 0; x < W; ++x) {
            const polygon* poly = obj->alphaMap[x][y];
            row[x] = poly ? interpolateCorners(*poly, cornerAttribute::position, vector(x * du, y * dv, 0))
                          : vector(0, 0, 0);
        }
        counter += int64_t(obj->polygonCount) * W;
        sayProgress("Generating Positions Map: ", progressPercent(counter, total));
    }
    sayText("\n");
}

void generateNormalsMap(object* obj)
{
    const int W = obj->finalBitmap->width;
    const int H = obj->finalBitmap->height;
    const double du = 1.0 / W;
    const double dv = 1.0 / H;
    const bitmap* bump = obj->bumpMap.get();
    const vector up(0, 1, 0);
    const int64_t total = int64_t(W) * H * obj->polygonCount;
    int64_t counter = 0;
    for (int y = 0; y < H; ++y) {
        vector* row = obj->normalsMap[y];
        for (int x = 0; x < W; ++x) {
            const polygon* poly = obj->alphaMap[x][y];
            if (!poly) {
                row[x] = vector(0, 0, 0);
                continue;
            }
            double u = x * du;
            double v = y * dv;
            vector n = interpolateCorners(*poly, cornerAttribute::normal, vector(u, v, 0));
            normalise(n);
            if (bump) {
                vector t, s;
                if (n != up) {
                    t = cross(n, up);
                    s = cross(t, n);
                } else {
                    // cross(n, up) would vanish; any horizontal frame will do.
                    t = cross(vector(1, 0, 0), n);
                    s = cross(n, t);
                }
                int h0 = bump->sampleAt(static_cast<float>(u), static_cast<float>(v)).red;
                int hu = bump->sampleAt(static_cast<float>(u - du), static_cast<float>(v)).red;
                int hv = bump->sampleAt(static_cast<float>(u), static_cast<float>(v - dv)).red;
                double gu = (h0 - hu) * static_cast<double>(oneOver255);
                double gv = (h0 - hv) * static_cast<double>(oneOver255);
                n = n + s * gu + t * gv;
                normalise(n);
            }
            row[x] = n;
        }
        counter += int64_t(obj->polygonCount) * W;
        sayProgress("Generating Normals Map: ", progressPercent(counter, total));
    }
    sayText("\n");
}
