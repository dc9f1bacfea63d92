#include "mesh/uvlayout.h"

#include "mesh/object.h"
#include "mesh/positiontable.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

// A face joins a chart while its normal is within 60 degrees of the chart's first face.
const double chartConeCos = 0.5;
// Free space around every chart, in texels. Two would keep filtered reads apart; the third
// also keeps two whole texels empty where a chart edge falls just past a texel's test points.
const double gutterTexels = 3.0;
// Beyond this, squares and cross products of coordinates could overflow.
const double largestTrusted = 1e100;
// A face whose area is below this fraction of its longest edge squared is a line.
const double sliverRatio = 1e-12;
// Overlap tests (and grid cells visited) a chart may spend, a start plus so many per face it
// holds, before it takes no more faces: a fan of thin faces meeting at one point would otherwise cost a test of every
// pair, since every cell near that point lists them all.
const long long overlapTestsPerChart = 4096;
const long long overlapTestsPerFace = 64;
// Faces a chart grows to before it is known whether it keeps most of them.
const size_t firstGrowth = 1024;
// Hull edges tried as the direction of a chart's rectangle.
const size_t rectangleDirections = 256;

struct point2 {
    double x, y;
};

bool operator<(point2 a, point2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
bool operator==(point2 a, point2 b) { return a.x == b.x && a.y == b.y; }

// Twice the signed area of a, b, c: positive when counter-clockwise. Exactly 0 when c equals
// a or b, so triangles that share corners can be told apart from overlapping ones.
double orient(point2 a, point2 b, point2 c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Whether two counter-clockwise triangles share interior points (separating-axis test on the
// six edges; touching along an edge or at a corner is no overlap).
bool interiorsOverlap(const point2* a, const point2* b)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 3; ++i) {
            point2 s = a[i], e = a[(i + 1) % 3];
            if (orient(s, e, b[0]) <= 0 && orient(s, e, b[1]) <= 0 && orient(s, e, b[2]) <= 0)
                return false;
        }
        std::swap(a, b);
    }
    return true;
}

struct box2 {
    double minX, minY, maxX, maxY;
};

box2 boxOf(const point2* t, size_t count)
{
    box2 b{t[0].x, t[0].y, t[0].x, t[0].y};
    for (size_t i = 1; i < count; ++i) {
        b.minX = std::min(b.minX, t[i].x);
        b.minY = std::min(b.minY, t[i].y);
        b.maxX = std::max(b.maxX, t[i].x);
        b.maxY = std::max(b.maxY, t[i].y);
    }
    return b;
}

bool trusted(const vector& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::fabs(p.x) <= largestTrusted &&
           std::fabs(p.y) <= largestTrusted && std::fabs(p.z) <= largestTrusted;
}

struct faceFacts {
    vector normal; // unit
    double area = 0;
    bool usable = false;
    int across[3] = {-1, -1, -1}; // the face beyond edge k (corner k to k + 1) if just two share it
};

void describeFaces(const polygon* polys, int count, std::vector<faceFacts>& faces)
{
    for (int i = 0; i < count; ++i) {
        const vector* p = polys[i].position;
        if (!trusted(p[0]) || !trusted(p[1]) || !trusted(p[2]))
            continue;
        vector e1 = p[1] - p[0], e2 = p[2] - p[0], e3 = p[2] - p[1];
        vector c = cross(e1, e2);
        double length = std::sqrt(dot(c, c));
        double longest = std::max({dot(e1, e1), dot(e2, e2), dot(e3, e3)});
        if (!(length > sliverRatio * longest))
            continue;
        faceFacts& f = faces[static_cast<size_t>(i)];
        f.normal = c / length;
        f.area = 0.5 * length;
        f.usable = true;
    }
}

// Edges are matched by the exact positions of their two ends; an edge of more than two faces
// is a seam, since no single flattening keeps three faces around one edge apart.
void linkFaces(const polygon* polys, int count, std::vector<faceFacts>& faces)
{
    size_t corners = 0;
    for (int i = 0; i < count; ++i)
        corners += faces[static_cast<size_t>(i)].usable ? 3 : 0;
    positionTable numbers(corners / 6);
    std::vector<std::pair<uint64_t, int>> edges;
    edges.reserve(corners);
    for (int i = 0; i < count; ++i) {
        if (!faces[static_cast<size_t>(i)].usable)
            continue;
        uint64_t v[3];
        for (int k = 0; k < 3; ++k)
            v[k] = static_cast<uint64_t>(numbers.number(polys[i].position[k]));
        for (int k = 0; k < 3; ++k) {
            uint64_t a = v[k], b = v[(k + 1) % 3];
            edges.push_back({(std::min(a, b) << 32) | std::max(a, b), 3 * i + k});
        }
    }
    std::sort(edges.begin(), edges.end());
    for (size_t s = 0; s < edges.size();) {
        size_t e = s + 1;
        while (e < edges.size() && edges[e].first == edges[s].first)
            ++e;
        if (e - s == 2) {
            int a = edges[s].second, b = edges[s + 1].second;
            if (a / 3 != b / 3) {
                faces[static_cast<size_t>(a / 3)].across[a % 3] = b / 3;
                faces[static_cast<size_t>(b / 3)].across[b % 3] = a / 3;
            }
        }
        s = e;
    }
}

struct chart {
    std::vector<int> faces; // in the order they were placed
    double width = 0, height = 0; // of its rectangle, in world units; width >= height
};

// Convex hull, counter-clockwise, of points (sorted and made unique here).
std::vector<point2> convexHull(std::vector<point2> p)
{
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    if (p.size() < 3)
        return p;
    std::vector<point2> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && orient(h[k - 2], h[k - 1], p[i]) <= 0)
            --k;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, lower = k + 1; i > 0; --i) {
        while (k >= lower && orient(h[k - 2], h[k - 1], p[i - 1]) <= 0)
            --k;
        h[k++] = p[i - 1];
    }
    h.resize(k - 1);
    return h;
}

// Turns a chart's corners (3 per face) to the direction of the smallest bounding rectangle
// among the hull's edges, wider than tall, with its lower left corner at the origin. Only
// rotations are used, so counter-clockwise faces stay counter-clockwise.
void fitRectangle(chart& c, std::vector<point2>& corners)
{
    std::vector<point2> all;
    all.reserve(3 * c.faces.size());
    for (int f : c.faces)
        for (int k = 0; k < 3; ++k)
            all.push_back(corners[3 * static_cast<size_t>(f) + k]);
    std::vector<point2> hull = convexHull(std::move(all));

    auto extents = [&](point2 d, box2& b) {
        b = {INFINITY, INFINITY, -INFINITY, -INFINITY};
        for (point2 p : hull) {
            double a = p.x * d.x + p.y * d.y, o = p.y * d.x - p.x * d.y;
            b.minX = std::min(b.minX, a);
            b.maxX = std::max(b.maxX, a);
            b.minY = std::min(b.minY, o);
            b.maxY = std::max(b.maxY, o);
        }
        return (b.maxX - b.minX) * (b.maxY - b.minY);
    };
    point2 best{1, 0};
    box2 bestBox;
    double bestArea = extents(best, bestBox);
    const size_t step = std::max<size_t>(1, hull.size() / rectangleDirections);
    for (size_t i = 0; i < hull.size(); i += step) {
        point2 s = hull[i], e = hull[(i + 1) % hull.size()];
        double dx = e.x - s.x, dy = e.y - s.y, length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0))
            continue;
        point2 d{dx / length, dy / length};
        box2 b;
        double area = extents(d, b);
        if (area < bestArea) {
            bestArea = area;
            best = d;
            bestBox = b;
        }
    }
    // Coordinates along d and along d turned a quarter; taller than wide turns a quarter more.
    const bool tall = bestBox.maxY - bestBox.minY > bestBox.maxX - bestBox.minX;
    for (int f : c.faces)
        for (int k = 0; k < 3; ++k) {
            point2& p = corners[3 * static_cast<size_t>(f) + k];
            double a = p.x * best.x + p.y * best.y - bestBox.minX;
            double o = p.y * best.x - p.x * best.y - bestBox.minY;
            p = tall ? point2{bestBox.maxY - bestBox.minY - o, a} : point2{a, o};
        }
    c.width = bestBox.maxX - bestBox.minX;
    c.height = bestBox.maxY - bestBox.minY;
    if (tall)
        std::swap(c.width, c.height);
}

// Splits the usable faces into charts. Faces left without a chart (chartOf -1) have no
// surface that could be flattened.
class chartMaker {
public:
    chartMaker(const polygon* polys, int count, std::vector<faceFacts>& faces)
        : chartOf(static_cast<size_t>(count), -1), corners(3 * static_cast<size_t>(count)), polys(polys),
          count(count), faces(faces), grownIn(static_cast<size_t>(count), -1)
    {
    }

    void run()
    {
        int cursor = 0;
        int round = 0;
        for (;;) {
            while (cursor < count && (!faces[static_cast<size_t>(cursor)].usable || chartOf[static_cast<size_t>(cursor)] >= 0))
                ++cursor;
            if (cursor >= count)
                return;
            // Growth stops at a cap; a chart that kept at least half of what it grew, and had
            // more to grow, is made again from a larger growth. So a chart that keeps few faces
            // of a large region costs little, and one that keeps many costs a few times its size.
            chart made;
            bool seedKept = true;
            for (size_t cap = firstGrowth;; cap *= 4) {
                const bool cut = grow(cursor, ++round, cap);
                bool outOfTests = false;
                made = chart();
                seedKept = place(made, outOfTests);
                if (!seedKept || !cut || outOfTests || 2 * made.faces.size() < grown.size())
                    break;
                for (int f : made.faces)
                    chartOf[static_cast<size_t>(f)] = -1;
            }
            if (!seedKept) {
                // Not even the first face keeps its orientation when flattened: it is a line.
                faces[static_cast<size_t>(cursor)].usable = false;
                continue;
            }
            fitRectangle(made, corners);
            charts.push_back(std::move(made));
            // Faces turned away go back to the pool; the next chart starts at the lowest.
            for (int f : grown)
                if (chartOf[static_cast<size_t>(f)] < 0)
                    cursor = std::min(cursor, f);
        }
    }

    std::vector<int> chartOf;
    std::vector<point2> corners; // 3 per face, in its chart's rectangle
    std::vector<chart> charts;

private:
    // Breadth first across shared edges from the seed, over free faces inside the cone, up to
    // cap faces; true when it stopped at the cap.
    bool grow(int seed, int round, size_t cap)
    {
        grown.assign(1, seed);
        grownIn[static_cast<size_t>(seed)] = round;
        const vector axis = faces[static_cast<size_t>(seed)].normal;
        for (size_t i = 0; i < grown.size(); ++i)
            for (int g : faces[static_cast<size_t>(grown[i])].across) {
                if (g < 0)
                    continue;
                const size_t gi = static_cast<size_t>(g);
                if (grownIn[gi] != round && chartOf[gi] < 0 && faces[gi].usable &&
                    dot(faces[gi].normal, axis) >= chartConeCos) {
                    if (grown.size() == cap)
                        return true;
                    grownIn[gi] = round;
                    grown.push_back(g);
                }
            }
        return false;
    }

    void project(vector normal)
    {
        // Any unit vector across the normal, then the third axis so that u x v = normal.
        vector helper = std::fabs(normal.x) <= std::fabs(normal.y) && std::fabs(normal.x) <= std::fabs(normal.z)
                            ? vector(1, 0, 0)
                            : (std::fabs(normal.y) <= std::fabs(normal.z) ? vector(0, 1, 0) : vector(0, 0, 1));
        vector u = normalised(cross(helper, normal));
        vector v = cross(normal, u);
        // Relative to one corner, so meshes far from the origin keep their precision.
        const vector origin = polys[grown[0]].position[0];
        flat.resize(3 * grown.size());
        for (size_t i = 0; i < grown.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                vector d = polys[grown[i]].position[k] - origin;
                flat[3 * i + k] = {dot(d, u), dot(d, v)};
            }
    }

    // Flattens the grown faces onto their average plane and keeps, in growth order, each face
    // that stays counter-clockwise, touches a kept face and overlaps none, marking it in
    // chartOf with the next chart's number. False when not even the seed can be kept.
    bool place(chart& made, bool& outOfTests)
    {
        const faceFacts& seed = faces[static_cast<size_t>(grown[0])];
        vector sum(0, 0, 0);
        for (int f : grown)
            sum = sum + faces[static_cast<size_t>(f)].normal * faces[static_cast<size_t>(f)].area;
        vector average = normalised(sum);
        project(dot(average, average) > 0.5 ? average : seed.normal);
        if (!(orient(flat[0], flat[1], flat[2]) > 0)) {
            project(seed.normal);
            if (!(orient(flat[0], flat[1], flat[2]) > 0))
                return false;
        }

        // A uniform grid over the flattened faces, about one face per cell.
        const size_t m = grown.size();
        const box2 all = boxOf(flat.data(), flat.size());
        gridBottom = all.minY;
        const double w = all.maxX - all.minX, h = all.maxY - all.minY;
        double cell = std::sqrt(w * h / static_cast<double>(m));
        if (!(cell > 0))
            cell = std::max(w, h) > 0 ? std::max(w, h) : 1.0;
        const double cap = 4.0 * static_cast<double>(m) + 1;
        const int columns = static_cast<int>(std::min(w / cell, cap)) + 1;
        const int rows = static_cast<int>(std::min(h / cell, cap)) + 1;
        const double toColumn = w > 0 ? columns / w : 0, toRow = h > 0 ? rows / h : 0;
        // Clamped before the conversion, which is undefined beyond the int range.
        auto index = [](double at, int last) { return at > 0 ? (at < last ? static_cast<int>(at) : last) : 0; };
        auto column = [&](double x) { return index((x - all.minX) * toColumn, columns - 1); };
        auto row = [&](double y) { return index((y - all.minY) * toRow, rows - 1); };
        cellHead.assign(static_cast<size_t>(columns) * static_cast<size_t>(rows), -1);
        entryItem.clear();
        entryNext.clear();
        seen.assign(m, 0);

        const int id = static_cast<int>(charts.size());
        long long tests = 0;
        long long budget = overlapTestsPerChart;
        for (size_t i = 0; i < m && tests <= budget; ++i) {
            const int f = grown[i];
            const point2* t = &flat[3 * i];
            if (!(orient(t[0], t[1], t[2]) > 0))
                continue;
            if (i > 0) {
                bool joined = false;
                for (int g : faces[static_cast<size_t>(f)].across)
                    joined = joined || (g >= 0 && chartOf[static_cast<size_t>(g)] == id);
                if (!joined)
                    continue;
            }
            const box2 b = boxOf(t, 3);
            cellsOf(t, b, column, row, columns, w / columns, h / rows);
            tests += static_cast<long long>(cells.size());
            bool clear = tests <= budget;
            for (size_t q = 0; q < cells.size() && clear; ++q)
                for (int e = cellHead[cells[q]]; e >= 0 && clear; e = entryNext[static_cast<size_t>(e)]) {
                    const size_t j = static_cast<size_t>(entryItem[static_cast<size_t>(e)]);
                    if (++tests > budget)
                        clear = false; // out of time for this chart: the face goes back
                    else if (seen[j] != i + 1) {
                        seen[j] = i + 1;
                        const box2 o = boxOf(&flat[3 * j], 3);
                        if (o.maxX > b.minX && b.maxX > o.minX && o.maxY > b.minY && b.maxY > o.minY)
                            clear = !interiorsOverlap(t, &flat[3 * j]);
                    }
                }
            if (!clear)
                continue;
            for (size_t slot : cells) {
                entryItem.push_back(static_cast<int>(i));
                entryNext.push_back(cellHead[slot]);
                cellHead[slot] = static_cast<int>(entryItem.size() - 1);
            }
            chartOf[static_cast<size_t>(f)] = id;
            for (int k = 0; k < 3; ++k)
                corners[3 * static_cast<size_t>(f) + k] = t[k];
            made.faces.push_back(f);
            budget += overlapTestsPerFace;
        }
        outOfTests = tests > budget;
        return true;
    }

    // The grid cells a triangle reaches, row by row over the part of it inside each row (its
    // bounding box would list far too many cells for a long diagonal sliver). Rows and columns
    // are widened a little, so rounding cannot drop a cell that two overlapping faces share.
    template <class toColumn, class toRow>
    void cellsOf(const point2* t, const box2& b, const toColumn& column, const toRow& row, int columns, double columnWidth,
                 double rowHeight)
    {
        cells.clear();
        const int r0 = row(b.minY), r1 = row(b.maxY);
        const double slack = 1e-7 * rowHeight;
        for (int r = r0; r <= r1; ++r) {
            double lo = r == r0 ? b.minY : rowStart(r, rowHeight) - slack;
            double hi = r == r1 ? b.maxY : rowStart(r + 1, rowHeight) + slack;
            double left = INFINITY, right = -INFINITY;
            for (int k = 0; k < 3; ++k) {
                point2 p = t[k], q = t[(k + 1) % 3];
                if (std::max(p.y, q.y) < lo || std::min(p.y, q.y) > hi)
                    continue;
                if (p.y == q.y) {
                    left = std::min({left, p.x, q.x});
                    right = std::max({right, p.x, q.x});
                    continue;
                }
                for (double y : {lo, hi}) {
                    double s = std::min(1.0, std::max(0.0, (y - p.y) / (q.y - p.y)));
                    double x = p.x + s * (q.x - p.x);
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
            if (!(left <= right))
                continue;
            const double widen = 1e-7 * columnWidth;
            for (int c = column(left - widen), last = column(right + widen); c <= last; ++c)
                cells.push_back(static_cast<size_t>(r) * static_cast<size_t>(columns) + static_cast<size_t>(c));
        }
    }

    double rowStart(int r, double rowHeight) const { return gridBottom + r * rowHeight; }

    const polygon* polys;
    int count;
    std::vector<faceFacts>& faces;
    std::vector<size_t> cells;
    double gridBottom = 0;
    std::vector<int> grownIn; // per face: the round of growth that last reached it
    std::vector<int> grown;   // faces of the chart being made, in growth order
    std::vector<point2> flat; // 3 per grown face
    std::vector<int> cellHead, entryItem, entryNext;
    std::vector<size_t> seen; // per grown face: the last face (position + 1) tested against it
};

// Rectangles in rows ("shelves") left to right, a new row above the tallest of the last when
// one is full, all in a frame of width x height texels with gap texels around each. The
// charts are scaled by scale; the spare square (for faces without a chart) has its own size
// and goes last.
struct shelfPacker {
    const std::vector<chart>& charts;
    const std::vector<int>& order; // chart numbers; charts.size() stands for the spare square
    double width, height;

    bool pack(double scale, double gap, double spare, std::vector<point2>* at) const
    {
        double x = gap, y = gap, shelf = 0;
        for (int i : order) {
            const bool isSpare = i == static_cast<int>(charts.size());
            const double w = isSpare ? spare : scale * charts[static_cast<size_t>(i)].width;
            const double h = isSpare ? spare : scale * charts[static_cast<size_t>(i)].height;
            if (x + w > width - gap && x > gap) {
                y += shelf + gap;
                x = gap;
                shelf = 0;
            }
            if (!(x + w <= width - gap && y + h <= height - gap))
                return false;
            if (at)
                (*at)[static_cast<size_t>(i)] = {x, y};
            x += w + gap;
            shelf = std::max(shelf, h);
        }
        return true;
    }
};

// The largest common scale of the charts that packs: bounded by the total area and by the
// largest chart, then bisected (the packing need not improve with every smaller scale, so the
// lower end is always one that was seen to fit).
double largestScale(const shelfPacker& packer, double gap, double spare)
{
    double area = 0, widest = 0, tallest = 0;
    for (const chart& c : packer.charts) {
        area += c.width * c.height;
        widest = std::max(widest, c.width);
        tallest = std::max(tallest, c.height);
    }
    double high = INFINITY;
    if (area > 0)
        high = std::sqrt((packer.width - 2 * gap) * (packer.height - 2 * gap) / area);
    if (widest > 0)
        high = std::min(high, (packer.width - 2 * gap) / widest);
    if (tallest > 0)
        high = std::min(high, (packer.height - 2 * gap) / tallest);
    if (!(high > 0 && std::isfinite(high)))
        high = 0;
    double low = 0;
    if (packer.pack(high, gap, spare, nullptr))
        return high;
    for (int i = 0; i < 50; ++i) {
        double mid = 0.5 * (low + high);
        (packer.pack(mid, gap, spare, nullptr) ? low : high) = mid;
    }
    return low;
}

// The map in packing units (texels); a tall map is packed turned a quarter (a rotation, so
// the winding holds).
struct mapFrame {
    double width, height;
    bool turned;

    vector toUv(double x, double y) const
    {
        double tx = turned ? width - y : x, ty = turned ? x : y;
        return vector(std::min(1.0, std::max(0.0, tx / width)), std::min(1.0, std::max(0.0, ty / height)), 0);
    }
};

// Gives every face that keeps no chart one small triangle in the spare square at corner, strictly
// between texel centres and corners (which lie on the half-texel lattice), so it claims no
// texel. Whether any face took it.
bool placeSpare(point2 corner, double size, const mapFrame& frame, const std::vector<char>& keepsChart,
                std::vector<vector>& uv)
{
    point2 base = corner;
    double unit = size;
    if (size >= 1.0) {
        base = {std::ceil(2 * corner.x) / 2, std::ceil(2 * corner.y) / 2};
        unit = 0.5;
    }
    const vector s0 = frame.toUv(base.x + 0.2 * unit, base.y + 0.2 * unit);
    const vector s1 = frame.toUv(base.x + 0.8 * unit, base.y + 0.2 * unit);
    const vector s2 = frame.toUv(base.x + 0.2 * unit, base.y + 0.8 * unit);
    bool spareUsed = false;
    for (size_t f = 0; f < keepsChart.size(); ++f)
        if (!keepsChart[f]) {
            uv[3 * f] = s0;
            uv[3 * f + 1] = s1;
            uv[3 * f + 2] = s2;
            spareUsed = true;
        }
    return spareUsed;
}

} // namespace

bool needsUvLayout(const object& obj)
{
    const size_t count = std::min<size_t>(static_cast<size_t>(std::max(obj.polygonCount, 0)), obj.polygons.size());
    for (size_t i = 0; i < count; ++i) {
        const polygon& p = obj.polygons[i];
        const double area = cross(p.texCoord[1] - p.texCoord[0], p.texCoord[2] - p.texCoord[0]).z;
        if (area != 0 && std::isfinite(area))
            return false;
    }
    return count > 0;
}

int generateUvLayout(object& obj, int mapWidth, int mapHeight)
{
    const int count = static_cast<int>(std::min<long long>(obj.polygonCount, static_cast<long long>(obj.polygons.size())));
    if (count <= 0 || mapWidth <= 0 || mapHeight <= 0)
        return 0;
    const polygon* polys = obj.polygons.data();

    std::vector<faceFacts> faces(static_cast<size_t>(count));
    describeFaces(polys, count, faces);
    linkFaces(polys, count, faces);
    chartMaker maker(polys, count, faces);
    maker.run();
    const std::vector<chart>& charts = maker.charts;

    // Packed with the long side of the map along x.
    const mapFrame frame{static_cast<double>(mapWidth), static_cast<double>(mapHeight), mapHeight > mapWidth};
    const int spareIndex = static_cast<int>(charts.size());
    std::vector<int> order(charts.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const double ha = charts[static_cast<size_t>(a)].height, hb = charts[static_cast<size_t>(b)].height;
        return ha > hb || (ha == hb && a < b);
    });
    const shelfPacker packer{charts, order, frame.turned ? frame.height : frame.width,
                             frame.turned ? frame.width : frame.height};

    bool spare = false;
    for (size_t f = 0; f < static_cast<size_t>(count); ++f)
        spare = spare || maker.chartOf[f] < 0;

    std::vector<vector> uv(3 * static_cast<size_t>(count));
    std::vector<char> keepsChart(static_cast<size_t>(count), 0);
    int used = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (spare && (order.empty() || order.back() != spareIndex))
            order.push_back(spareIndex);

        // Too many charts for the map: narrower gaps until they fit at all.
        double gap = gutterTexels;
        auto spareSize = [&] { return spare ? std::min(1.0, gap) : 0.0; };
        for (int i = 0; i < 60 && !packer.pack(0, gap, spareSize(), nullptr); ++i)
            gap *= 0.5;

        const double low = largestScale(packer, gap, spareSize());
        std::vector<point2> at(charts.size() + 1, point2{0, 0});
        packer.pack(low, gap, spareSize(), &at);

        bool rejected = false;
        used = 0;
        for (size_t ci = 0; ci < charts.size(); ++ci) {
            bool any = false;
            for (int f : charts[ci].faces) {
                const size_t fi = static_cast<size_t>(f);
                vector* t = &uv[3 * fi];
                for (int k = 0; k < 3; ++k) {
                    const point2 p = maker.corners[3 * fi + k];
                    t[k] = frame.toUv(at[ci].x + low * p.x, at[ci].y + low * p.y);
                }
                // The same test as the winding check, on the same numbers.
                keepsChart[fi] = cross(t[1] - t[0], t[2] - t[0]).z > 0;
                rejected = rejected || !keepsChart[fi];
                any = any || keepsChart[fi];
            }
            used += any ? 1 : 0;
        }
        if (rejected && !spare) {
            spare = true; // once more, with room for the faces that rounded flat
            continue;
        }

        if (spare && placeSpare(at[static_cast<size_t>(spareIndex)], spareSize(), frame, keepsChart, uv))
            ++used;
        break;
    }

    obj.uvs.assign(uv.begin(), uv.end());
    obj.uvs.push_back(vector(0, 0, 0));
    obj.uvs.push_back(vector(1, 1, 0));
    obj.uvCount = static_cast<int>(std::min<size_t>(obj.uvs.size(), INT32_MAX));
    for (size_t f = 0; f < static_cast<size_t>(count); ++f)
        for (int k = 0; k < 3; ++k)
            obj.polygons[f].texCoord[k] = uv[3 * f + k];
    obj.generatedUvs = true;
    return used;
}
