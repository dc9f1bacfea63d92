#include "mesh/edgelist.h"

#include "core/console.h"
#include "core/progress.h"
#include "mesh/object.h"

#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

// An unordered pair of points, stored in a canonical order so that (a, b) and (b, a) are one
// key. Points compare as vector == does: all four components exactly, -0.0 equal to 0.0.
struct pointPair {
    double c[8];

    bool operator==(const pointPair& o) const
    {
        for (int i = 0; i < 8; ++i)
            if (c[i] != o.c[i])
                return false;
        return true;
    }
};

bool hasNan(const vector& v)
{
    return std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z) || std::isnan(v.w);
}

// Lexicographic order on the components; consistent with == for points without NaN.
bool lessThan(const vector& a, const vector& b)
{
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    if (a.z != b.z) return a.z < b.z;
    return a.w < b.w;
}

pointPair makePair(const vector& a, const vector& b)
{
    const vector& first = lessThan(b, a) ? b : a;
    const vector& second = lessThan(b, a) ? a : b;
    // + 0.0 turns -0.0 into 0.0, so equal points hash alike.
    return {{first.x + 0.0, first.y + 0.0, first.z + 0.0, first.w + 0.0,
             second.x + 0.0, second.y + 0.0, second.z + 0.0, second.w + 0.0}};
}

struct pointPairHash {
    size_t operator()(const pointPair& p) const
    {
        uint64_t h = 0x9E3779B97F4A7C15ull;
        for (double d : p.c) {
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            h ^= bits + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
            h *= 0xFF51AFD7ED558CCDull;
        }
        return static_cast<size_t>(h ^ (h >> 32));
    }
};

// What the linear scans would find for one pair of points: the two lowest polygons that have
// both as corners, and whether an edge joining them has been listed yet.
struct pairUse {
    int lowest = -1;
    int secondLowest = -1;
    bool listed = false;
};

const int cornerPairs[3][2] = {{0, 1}, {1, 2}, {2, 0}};

} // namespace

bool edgeExists(const edge& candidate, const edge* list, int count)
{
    for (int i = 0; i < count; ++i) {
        if (list[i].start == candidate.start && list[i].end == candidate.end)
            return true;
        if (list[i].end == candidate.start && list[i].start == candidate.end)
            return true;
    }
    return false;
}

int findNeighbourFace(int current, const edge& candidate, const polygon* polys, int count)
{
    if (current >= count)
        return -1;
    static const int orderedPairs[6][2] = {{0, 1}, {1, 0}, {1, 2}, {2, 1}, {2, 0}, {0, 2}};
    for (int j = 0; j < count; ++j) {
        if (j == current)
            continue;
        for (const auto& pair : orderedPairs)
            if (candidate.start == polys[j].position[pair[0]] && candidate.end == polys[j].position[pair[1]])
                return j;
    }
    return -1;
}

void buildEdgeList(object* obj)
{
    const int count = obj->polygonCount;
    std::vector<polygon>& polys = obj->polygons;
    for (int i = 0; i < count; ++i)
        normalise(polys[i].faceNormal);

    // One table keyed by point pairs answers both scans of the plain form in constant time:
    // "was this edge listed before" and "which is the lowest other polygon that has it".
    // Points with NaN equal nothing, not even themselves, so they never enter the table.
    std::unordered_map<pointPair, pairUse, pointPairHash> uses;
    uses.reserve(static_cast<size_t>(count) * 2);
    for (int j = 0; j < count; ++j)
        for (const auto& pair : cornerPairs) {
            const vector& a = polys[j].position[pair[0]];
            const vector& b = polys[j].position[pair[1]];
            if (hasNan(a) || hasNan(b))
                continue;
            pairUse& use = uses[makePair(a, b)];
            if (use.lowest == -1)
                use.lowest = j;
            else if (use.lowest != j && use.secondLowest == -1)
                use.secondLowest = j;
        }

    std::vector<edge> found;
    found.reserve(uses.size() + 16);
    int sharpCount = 0, boundaryCount = 0;
    for (int i = 0; i < count; ++i) {
        for (const auto& pair : cornerPairs) {
            edge candidate;
            candidate.start = polys[i].position[pair[0]];
            candidate.end = polys[i].position[pair[1]];
            int neighbour = -1;
            if (!hasNan(candidate.start) && !hasNan(candidate.end)) {
                pairUse& use = uses[makePair(candidate.start, candidate.end)];
                if (use.listed)
                    continue;
                use.listed = true;
                neighbour = (use.lowest != i) ? use.lowest : use.secondLowest;
            }
            candidate.firstFace = i;
            candidate.secondFace = neighbour;
            if (neighbour == -1) {
                ++boundaryCount;
                ++sharpCount;
                candidate.sharp = 1;
            } else {
                double d = dot(polys[neighbour].faceNormal, polys[i].faceNormal);
                if (!(d > obj->sharpEdgeThreshold)) {
                    ++sharpCount;
                    candidate.sharp = 1;
                }
            }
            found.push_back(candidate);
        }
        sayProgress("Generating Edge List: ", progressPercent(i, count));
    }

    obj->edges = std::move(found);
    obj->edgeCount = static_cast<int>(obj->edges.size());
    say("\nEDGE LIST GENERATED:\n");
    say("TOTAL NUMBER OF EDGES:    %4d\n", obj->edgeCount);
    say("NUMBER OF SHARP EDGES:    %4d\n", sharpCount);
    say("NUMBER OF BOUNDARY EDGES: %4d\n\n", boundaryCount);
}
