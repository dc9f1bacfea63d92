#include "tests/reference/normals_reference.h"

#include "mesh/object.h"

#include <algorithm>
#include <cmath>

namespace {

// The corner's angle in its triangle.
double cornerAngle(const polygon& p, int k)
{
    vector a = p.position[(k + 1) % 3] - p.position[k];
    vector b = p.position[(k + 2) % 3] - p.position[k];
    vector c = cross(a, b);
    return std::atan2(std::sqrt(dot(c, c)), dot(a, b));
}

// Alike for positions that compare equal, -0 and 0 included.
uint64_t hashOf(const vector& p)
{
    return mixBits(coordinateBits(p.x) ^ mixBits(coordinateBits(p.y) ^ mixBits(coordinateBits(p.z) ^ mixBits(coordinateBits(p.w)))));
}

} // namespace

long long referenceComputeCornerNormals(object& obj, const std::vector<uint8_t>& marked)
{
    const size_t count = std::min(marked.size(), obj.polygons.size());
    bool any = false;
    for (size_t i = 0; i < count && !any; ++i)
        any = marked[i] != 0;
    if (!any)
        return 0;

    // Every corner, chained in file order to the first corner at its position, which an
    // open-addressed table finds.
    const size_t corners = 3 * count;
    size_t slots = 16;
    while (slots < 2 * corners)
        slots <<= 1;
    std::vector<int64_t> firstAt(slots, -1);
    std::vector<int64_t> group(corners), next(corners, -1), tail(corners);
    auto position = [&](size_t c) -> const vector& { return obj.polygons[c / 3].position[c % 3]; };
    for (size_t c = 0; c < corners; ++c) {
        size_t s = hashOf(position(c)) & (slots - 1);
        while (firstAt[s] >= 0 && !(position(static_cast<size_t>(firstAt[s])) == position(c)))
            s = (s + 1) & (slots - 1);
        if (firstAt[s] < 0) {
            firstAt[s] = static_cast<int64_t>(c);
            group[c] = tail[c] = static_cast<int64_t>(c);
            continue;
        }
        const size_t g = static_cast<size_t>(firstAt[s]);
        next[static_cast<size_t>(tail[g])] = static_cast<int64_t>(c);
        tail[g] = static_cast<int64_t>(c);
        group[c] = static_cast<int64_t>(g);
    }

    const double threshold = obj.sharpEdgeThreshold;
    long long given = 0;
    for (size_t c = 0; c < corners; ++c) {
        if (!(marked[c / 3] >> (c % 3) & 1))
            continue;
        const vector own = obj.polygons[c / 3].faceNormal;
        vector sum(0, 0, 0);
        for (int64_t o = group[c]; o >= 0; o = next[static_cast<size_t>(o)]) {
            const polygon& other = obj.polygons[static_cast<size_t>(o) / 3];
            if (dot(other.faceNormal, own) > threshold)
                sum = sum + other.faceNormal * cornerAngle(other, static_cast<int>(o % 3));
        }
        normalise(sum);
        obj.polygons[c / 3].normal[c % 3] = sum;
        ++given;
    }
    return given;
}
