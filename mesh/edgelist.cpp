#include "mesh/edgelist.h"

#include "core/console.h"
#include "core/progress.h"
#include "mesh/object.h"
#include "mesh/positiontable.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// Open-addressing table sizes: a power of two at least one and a half times the most keys
// there can be, so that probes stay short and the table never fills.
size_t tableSize(size_t keys)
{
    size_t size = 16;
    while (size < keys + keys / 2)
        size *= 2;
    return size;
}

// What the linear scans would find for one pair of points: the two lowest polygons that have
// both as corners, and whether an edge joining them has been listed yet.
struct pairUse {
    uint64_t key = ~uint64_t(0); // the two point numbers, lower first; all ones when free
    int lowest = -1;
    int secondLowest = -1;
    bool listed = false;
};

const int cornerPairs[3][2] = {{0, 1}, {1, 2}, {2, 0}};

} // namespace

void buildEdgeList(object* obj)
{
    const int count = obj->polygonCount;
    std::vector<polygon>& polys = obj->polygons;
    for (int i = 0; i < count; ++i)
        normalise(polys[i].faceNormal);

    // Point numbers and one table keyed by pairs of them answer both scans of the plain form
    // in constant time: "was this edge listed before" and "which is the lowest other polygon
    // that has it". Each corner pair's table entry is found once and remembered.
    const size_t pairCount = 3 * static_cast<size_t>(count);
    // A closed mesh has about one position for six corners.
    positionTable table(pairCount / 6);
    std::vector<uint32_t> number(pairCount);
    table.numberCorners(polys.data(), static_cast<size_t>(count), number.data());
    std::vector<pairUse> uses(tableSize(pairCount));
    const size_t mask = uses.size() - 1;
    const uint32_t none = ~uint32_t(0);
    std::vector<uint32_t> useOf(pairCount, none); // none for a pair with a NaN point
    size_t edgeCount = 0;
    for (int j = 0; j < count; ++j) {
        int corner[3];
        for (int k = 0; k < 3; ++k) // a NaN corner's edges are listed on their own
            corner[k] = positionTable::matchable(polys[j].position[k]) ? static_cast<int>(number[3 * static_cast<size_t>(j) + k]) : -1;
        for (int p = 0; p < 3; ++p) {
            int a = corner[cornerPairs[p][0]], b = corner[cornerPairs[p][1]];
            if (a < 0 || b < 0) {
                ++edgeCount; // listed on its own
                continue;
            }
            const uint64_t key = (uint64_t(std::min(a, b)) << 32) | uint64_t(std::max(a, b));
            size_t i = mixBits(key) & mask;
            while (uses[i].key != key && uses[i].key != ~uint64_t(0))
                i = (i + 1) & mask;
            pairUse& use = uses[i];
            if (use.key != key)
                ++edgeCount;
            use.key = key;
            if (use.lowest == -1)
                use.lowest = j;
            else if (use.lowest != j && use.secondLowest == -1)
                use.secondLowest = j;
            useOf[3 * static_cast<size_t>(j) + p] = static_cast<uint32_t>(i);
        }
    }

    std::vector<edge> found;
    found.reserve(edgeCount);
    int sharpCount = 0, boundaryCount = 0;
    progressLine progress("Generating Edge List: ");
    for (int i = 0; i < count; ++i) {
        for (int p = 0; p < 3; ++p) {
            const uint32_t slot = useOf[3 * static_cast<size_t>(i) + p];
            pairUse* use = slot == none ? nullptr : &uses[slot];
            int neighbour = -1;
            if (use) {
                if (use->listed)
                    continue;
                use->listed = true;
                neighbour = (use->lowest != i) ? use->lowest : use->secondLowest;
            }
            found.emplace_back();
            edge& e = found.back();
            e.start = polys[i].position[cornerPairs[p][0]];
            e.end = polys[i].position[cornerPairs[p][1]];
            e.firstFace = i;
            e.secondFace = neighbour;
            if (neighbour == -1) {
                ++boundaryCount;
                ++sharpCount;
                e.sharp = 1;
            } else {
                double d = dot(polys[neighbour].faceNormal, polys[i].faceNormal);
                if (!(d > obj->sharpEdgeThreshold)) {
                    ++sharpCount;
                    e.sharp = 1;
                }
            }
        }
        progress.say(progressPercent(i, count));
    }

    obj->edges = std::move(found);
    obj->edgeCount = static_cast<int>(obj->edges.size());
    say("\nEDGE LIST GENERATED:\n");
    say("TOTAL NUMBER OF EDGES:    %4d\n", obj->edgeCount);
    say("NUMBER OF SHARP EDGES:    %4d\n", sharpCount);
    say("NUMBER OF BOUNDARY EDGES: %4d\n\n", boundaryCount);
}
