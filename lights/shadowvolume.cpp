#include "lights/shadowvolume.h"

#include "mesh/object.h"
#include "mesh/positiontable.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

namespace {

bool validFace(const object& obj, int index)
{
    return index >= 0 && index < static_cast<int>(obj.polygons.size());
}

// An edge whose faces the polygons hold: a first one and a second one or none.
bool validFaces(const object& obj, const edge& e)
{
    return validFace(obj, e.firstFace) && (e.secondFace == -1 || validFace(obj, e.secondFace));
}

// The edges the list holds, whatever edgeCount says.
int listedEdges(const object& obj) { return std::min(obj.edgeCount, static_cast<int>(obj.edges.size())); }

// Whether p's winding goes from s straight on to t.
bool runsFrom(const polygon& p, const vector& s, const vector& t)
{
    if (p.position[0] == s)
        return p.position[1] == t;
    if (p.position[1] == s)
        return p.position[2] == t;
    return p.position[2] == s && p.position[0] == t;
}

// An edge that casts: count facing triangles more run start to end than end to start.
struct castEdge {
    vector start;
    vector end;
    int count;
};

void castQuads(std::vector<quad>& quads, const castEdge& c, vector lightPosition)
{
    quad face;
    const vector f0 = farCorner(c.start, lightPosition);
    const vector f1 = farCorner(c.end, lightPosition);
    face.faceNormal = normalised(cross(c.end - c.start, f0 - c.start));
    // A facing triangle running start to end lies on the side this winding turns away from.
    if (c.count > 0) {
        face.corners[0] = f0;
        face.corners[1] = f1;
        face.corners[2] = c.end;
        face.corners[3] = c.start;
    } else {
        face.corners[0] = c.start;
        face.corners[1] = c.end;
        face.corners[2] = f1;
        face.corners[3] = f0;
    }
    for (int i = std::abs(c.count); i > 0; --i)
        quads.push_back(face);
}

struct box {
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};

    // Both ends at once: each bound then waits on one comparison per edge, not two.
    void add(const vector& a, const vector& b)
    {
        lo[0] = std::min(lo[0], std::min(a.x, b.x));
        lo[1] = std::min(lo[1], std::min(a.y, b.y));
        lo[2] = std::min(lo[2], std::min(a.z, b.z));
        hi[0] = std::max(hi[0], std::max(a.x, b.x));
        hi[1] = std::max(hi[1], std::max(a.y, b.y));
        hi[2] = std::max(hi[2], std::max(a.z, b.z));
    }
};

// Finds an edge by its two end points, either way round. A point with a NaN meets nothing,
// so an edge with one is never found.
class edgeFinder {
public:
    bool keyOf(const vector& a, const vector& b, uint64_t& key)
    {
        if (!positionTable::matchable(a) || !positionTable::matchable(b))
            return false;
        const uint64_t x = points.number(a), y = points.number(b);
        key = std::min(x, y) << 32 | std::max(x, y);
        return true;
    }

    positionTable points;
    std::unordered_map<uint64_t, size_t> at; // by key: the cast edge
};

// Which of p's corner pairs (bit k for corners k and k + 1) joins s and t.
unsigned pairBit(const polygon& p, const vector& s, const vector& t)
{
    for (int k = 0; k < 3; ++k) {
        const vector& a = p.position[k];
        const vector& b = p.position[(k + 1) % 3];
        if ((a == s && b == t) || (a == t && b == s))
            return 1u << k;
    }
    return 0;
}

// The edge list names only the two lowest triangles of an edge: the corner pairs of facing
// triangles that no listed edge names them on are counted into the casting edges here.
void countUnlistedTriangles(const object& obj, int edgeCount, std::vector<castEdge>& cast)
{
    const std::vector<polygon>& polys = obj.polygons;
    std::vector<uint8_t> listed(polys.size(), 0);
    for (int k = 0; k < edgeCount; ++k) {
        const edge& e = obj.edges[k];
        if (!validFaces(obj, e))
            continue;
        for (int face : {e.firstFace, e.secondFace})
            if (face != -1 && polys[face].facing == 1)
                listed[face] |= static_cast<uint8_t>(pairBit(polys[face], e.start, e.end));
    }
    edgeFinder edges;
    uint64_t key = 0;
    for (size_t i = 0; i < cast.size(); ++i)
        if (edges.keyOf(cast[i].start, cast[i].end, key))
            edges.at.emplace(key, i);
    for (size_t f = 0; f < polys.size(); ++f) {
        if (polys[f].facing != 1 || listed[f] == 7)
            continue;
        for (int k = 0; k < 3; ++k) {
            if (listed[f] & (1u << k))
                continue;
            const vector& p = polys[f].position[k];
            const vector& q = polys[f].position[(k + 1) % 3];
            const bool keyed = edges.keyOf(p, q, key);
            auto found = keyed ? edges.at.find(key) : edges.at.end();
            if (found == edges.at.end()) {
                if (keyed)
                    edges.at.emplace(key, cast.size());
                cast.push_back(castEdge{p, q, 1});
            } else {
                castEdge& c = cast[found->second];
                c.count += c.start == p && c.end == q ? 1 : -1;
            }
        }
    }
}

// Casts one object's quads and copies its facing flags into facing; with bounds, also gathers
// its edges' end points there.
void castObject(object& obj, vector lightPosition, std::vector<quad>& quads, std::vector<uint8_t>& facing, box* bounds)
{
    std::vector<polygon>& polys = obj.polygons;
    box ends; // here rather than through bounds, which the facing flags' bytes might alias
    // The edges read the flags from here rather than from polygons hundreds of bytes apart.
    const uint8_t unknown = 2;
    facing.assign(polys.size(), unknown);
    long long facingCount = 0;
    // As markFacing, but when an edge first asks: a polygon is then read while its
    // neighbours are, and read again for its winding while it is still at hand.
    auto faces = [&](int i) {
        if (facing[i] == unknown) {
            polygon& p = polys[i];
            vector toLight = lightPosition - p.position[0];
            p.facing = dot(p.faceNormal, toLight) > 0 ? 1 : 0;
            facing[i] = p.facing;
            facingCount += p.facing;
        }
        return facing[i] == 1;
    };
    const int edgeCount = listedEdges(obj);
    const int polygonCount = static_cast<int>(polys.size());
    std::vector<castEdge> cast;
    long long named = 0; // facing triangles named on listed edges
    for (int k = 0; k < edgeCount; ++k) {
        const edge& e = obj.edges[k];
        if (bounds)
            ends.add(e.start, e.end);
        if (!validFaces(obj, e))
            continue;
        const int a = e.firstFace, b = e.secondFace;
        int count = faces(a);
        if (b != -1 && faces(b)) {
            count += runsFrom(polys[b], e.start, e.end) ? 1 : -1;
            ++named;
        }
        named += facing[a];
        if (count != 0)
            cast.push_back(castEdge{e.start, e.end, count});
    }
    for (int i = 0; i < polygonCount; ++i)
        faces(i);
    if (bounds)
        *bounds = ends;
    if (edgeCount > 0 && named < 3 * facingCount)
        countUnlistedTriangles(obj, edgeCount, cast);
    for (const castEdge& c : cast)
        if (c.count != 0)
            castQuads(quads, c, lightPosition);
}

// Whether the box may meet the pyramid from the light to the near rectangle: the only place a
// triangle whose volume reaches into the rectangle can be. False when the box lies wholly
// outside one of the pyramid's faces.
bool boxMeetsPyramid(const box& b, vector apex, const nearRectangle& view)
{
    const vector base[4] = {view.centre - view.across - view.up, view.centre + view.across - view.up,
                            view.centre + view.across + view.up, view.centre - view.across + view.up};
    const vector middle = (apex + view.centre * 4) / 5;
    const vector lo(b.lo[0], b.lo[1], b.lo[2]), hi(b.hi[0], b.hi[1], b.hi[2]);
    const vector span = hi - lo, reach = view.centre - apex;
    const double size = std::sqrt(dot(span, span)) + std::sqrt(dot(reach, reach)) + std::sqrt(dot(view.across, view.across));
    for (int k = 0; k < 5; ++k) {
        const vector through = k < 4 ? apex : view.centre;
        vector n = k < 4 ? cross(base[k] - apex, base[(k + 1) % 4] - apex) : cross(view.across, view.up);
        if (dot(n, middle - through) < 0)
            n = -n;
        const vector farthest(n.x >= 0 ? hi.x : lo.x, n.y >= 0 ? hi.y : lo.y, n.z >= 0 ? hi.z : lo.z);
        if (dot(n, farthest - through) < -1e-9 * std::sqrt(dot(n, n)) * size)
            return false;
    }
    return true;
}

// k[0] + k[1] u + k[2] v >= 0 on the inside, over the near rectangle's window coordinates.
struct halfPlane {
    double k[3];
    double at(double u, double v) const { return k[0] + k[1] * u + k[2] * v; }
};

halfPlane onRectangle(vector normal, vector through, const nearRectangle& view)
{
    return {{dot(normal, view.centre - through), dot(normal, view.across), dot(normal, view.up)}};
}

// The part of the near rectangle inside the volume of the facing triangle p; count 0 if none.
nearPolygon entryInto(const polygon& p, vector lightPosition, const nearRectangle& view)
{
    nearPolygon out;
    const vector& a = p.position[0];
    const vector& b = p.position[1];
    const vector& c = p.position[2];
    vector n = cross(b - a, c - a);
    if (dot(n, lightPosition - a) < 0)
        n = -n;
    halfPlane planes[4];
    planes[0] = onRectangle(-n, a, view); // beyond the triangle
    const vector* corners[3] = {&a, &b, &c};
    for (int k = 0; k < 3; ++k) {
        const vector& s = *corners[k];
        const vector& t = *corners[(k + 1) % 3];
        const vector& other = *corners[(k + 2) % 3];
        vector side = cross(s - lightPosition, t - lightPosition);
        if (dot(side, other - lightPosition) < 0)
            side = -side;
        planes[k + 1] = onRectangle(side, lightPosition, view);
    }
    for (const halfPlane& h : planes)
        if (!(h.k[0] + std::fabs(h.k[1]) + std::fabs(h.k[2]) > 0))
            return out;

    double u[8] = {-1, 1, 1, -1}, v[8] = {-1, -1, 1, 1};
    int n0 = 4;
    for (const halfPlane& h : planes) {
        double nu[8], nv[8];
        int n1 = 0;
        for (int i = 0; i < n0 && n1 < 8; ++i) {
            const int j = (i + 1) % n0;
            const double di = h.at(u[i], v[i]), dj = h.at(u[j], v[j]);
            if (di >= 0) {
                nu[n1] = u[i];
                nv[n1++] = v[i];
            }
            if ((di >= 0) != (dj >= 0) && n1 < 8) {
                const double t = di / (di - dj);
                nu[n1] = u[i] + (u[j] - u[i]) * t;
                nv[n1++] = v[i] + (v[j] - v[i]) * t;
            }
        }
        n0 = n1;
        std::copy(nu, nu + n1, u);
        std::copy(nv, nv + n1, v);
        if (n0 < 3)
            return out;
    }
    double area = 0;
    for (int i = 0; i < n0; ++i) {
        const int j = (i + 1) % n0;
        area += u[i] * v[j] - u[j] * v[i];
    }
    if (!(std::fabs(area) > 0))
        return out;
    out.count = n0;
    std::copy(u, u + n0, out.u);
    std::copy(v, v + n0, out.v);
    return out;
}

} // namespace

vector farCorner(vector point, vector lightPosition)
{
    // Extruding from the end point rather than from the origin keeps the volume attached to
    // its edge wherever the scene sits; normalised leaves a zero ray at zero length.
    return point + normalised(point - lightPosition) * shadowExtrusion;
}

std::vector<quad> buildShadowQuads(object** objects, int count, vector lightPosition)
{
    std::vector<quad> quads;
    if (!objects)
        return quads;
    std::vector<uint8_t> facing;
    for (int i = 0; i < count; ++i)
        if (objects[i])
            castObject(*objects[i], lightPosition, quads, facing, nullptr);
    return quads;
}

shadowVolumeSet buildShadowVolumes(object** objects, int count, vector lightPosition, const nearRectangle& view)
{
    shadowVolumeSet out;
    if (!objects)
        return out;
    std::vector<uint8_t> facing;
    for (int i = 0; i < count; ++i) {
        object* obj = objects[i];
        if (!obj)
            continue;
        box bounds;
        castObject(*obj, lightPosition, out.sides, facing, &bounds);
        if (listedEdges(*obj) <= 0 ||
            !boxMeetsPyramid(bounds, lightPosition, view))
            continue;
        for (size_t k = 0; k < facing.size(); ++k) {
            if (!facing[k])
                continue;
            const polygon& p = obj->polygons[k];
            // Wholly in front of the triangle, as seen from its own corner and normal.
            const vector& n = p.faceNormal;
            if (dot(n, view.centre - p.position[0]) > std::fabs(dot(n, view.across)) + std::fabs(dot(n, view.up)))
                continue;
            nearPolygon entry = entryInto(p, lightPosition, view);
            if (entry.count > 0)
                out.entries.push_back(entry);
        }
    }
    return out;
}

std::vector<const polygon*> shadowCaps(object** objects, int count)
{
    std::vector<const polygon*> caps;
    if (!objects)
        return caps;
    for (int i = 0; i < count; ++i) {
        const object* obj = objects[i];
        if (!obj || listedEdges(*obj) <= 0)
            continue;
        for (const polygon& p : obj->polygons)
            if (p.facing == 1)
                caps.push_back(&p);
    }
    return caps;
}
