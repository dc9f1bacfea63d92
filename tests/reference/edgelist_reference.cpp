#include "tests/reference/edgelist_reference.h"

#include "core/console.h"
#include "core/progress.h"
#include "mesh/edgelist.h"
#include "mesh/object.h"

#include <vector>

namespace {

// True when one of the first count entries of list joins the same two points, either way round.
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

// The first polygon other than current that has the candidate's end points as two different
// corners, or -1. Linear in count.
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

} // namespace

void referenceBuildEdgeList(object* obj)
{
    std::vector<edge> work(3 * static_cast<size_t>(obj->polygonCount));
    for (int i = 0; i < obj->polygonCount; ++i)
        normalise(obj->polygons[i].faceNormal);
    int n = 0, sharpCount = 0, boundaryCount = 0;
    const int pairs[3][2] = {{0, 1}, {1, 2}, {2, 0}};
    for (int i = 0; i < obj->polygonCount; ++i) {
        for (const auto& pair : pairs) {
            edge candidate;
            candidate.start = obj->polygons[i].position[pair[0]];
            candidate.end = obj->polygons[i].position[pair[1]];
            candidate.sharp = 0;
            if (edgeExists(candidate, work.data(), n))
                continue;
            candidate.firstFace = i;
            candidate.secondFace = findNeighbourFace(i, candidate, obj->polygons.data(), obj->polygonCount);
            if (candidate.secondFace == -1) {
                ++boundaryCount;
                ++sharpCount;
                candidate.sharp = 1;
            } else {
                double d = dot(obj->polygons[candidate.secondFace].faceNormal, obj->polygons[i].faceNormal);
                if (!(d > obj->sharpEdgeThreshold)) {
                    ++sharpCount;
                    candidate.sharp = 1;
                }
            }
            work[n++] = candidate;
        }
        sayProgress("Generating Edge List: ", progressPercent(i, obj->polygonCount));
    }
    obj->edgeCount = n;
    obj->edges.assign(work.begin(), work.begin() + n);
    say("\nEDGE LIST GENERATED:\n");
    say("TOTAL NUMBER OF EDGES:    %4d\n", n);
    say("NUMBER OF SHARP EDGES:    %4d\n", sharpCount);
    say("NUMBER OF BOUNDARY EDGES: %4d\n\n", boundaryCount);
}
