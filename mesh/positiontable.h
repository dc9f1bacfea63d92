#pragma once

#include "core/vector.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Numbers the distinct positions it is given, from 0 in order of first use. Two positions
// are the same exactly when vector's == says so: x, y, z and w equal, -0 the same as 0.
// A position with a NaN equals nothing, itself included, so each one gets a number of its
// own. Every table of shared corners (edges, corner normals, chart seams, written vertices)
// asks this one, so no two of them can disagree on which corners meet.
class positionTable {
public:
    // expected: a guess at the number of distinct positions; the table grows past it.
    explicit positionTable(size_t expected = 0);

    // False for a position holding a NaN, which no other position matches.
    static bool matchable(const vector& p) { return matchable(key{p.x, p.y, p.z, p.w}); }

    uint32_t number(const vector& p) { return number(p, hashOf(p)); }

    // Numbers the corners of polygons [0, count) into out, three per polygon, in order.
    template <class polygonType>
    void numberCorners(const polygonType* polys, size_t count, uint32_t* out);

    size_t size() const { return keys.size(); }

private:
    static uint64_t hashOf(const vector& p) { return hashOf(key{p.x, p.y, p.z, p.w}); }
    // With hash = hashOf(p). Over large meshes the slots are far from the caches: passing a
    // position's hash to ahead() some positions before numbering it hides that wait.
    uint32_t number(const vector& p, uint64_t hash);
    void ahead(uint64_t hash) const { __builtin_prefetch(&slots[hash & (slots.size() - 1)]); }

    struct key {
        double x, y, z, w;
    };

    static bool matchable(const key& p)
    {
        return !std::isnan(p.x) && !std::isnan(p.y) && !std::isnan(p.z) && !std::isnan(p.w);
    }
    static uint64_t hashOf(const key& p)
    {
        return mixBits(coordinateBits(p.x) * 0x9E3779B97F4A7C15ull ^ coordinateBits(p.y) * 0xC2B2AE3D27D4EB4Full ^
                       coordinateBits(p.z) * 0x165667B19E3779F9ull ^ coordinateBits(p.w));
    }

    void grow();

    // A slot holds a number + 1 (0 when free) and, above it, the top half of the position's
    // hash, which spares reading the positions that merely share the slot.
    std::vector<uint64_t> slots;
    std::vector<key> keys; // by number
};

template <class polygonType>
void positionTable::numberCorners(const polygonType* polys, size_t count, uint32_t* out)
{
    constexpr size_t distance = 16;
    const size_t corners = 3 * count;
    auto at = [&](size_t c) -> const vector& { return polys[c / 3].position[c % 3]; };
    uint64_t hashes[distance];
    for (size_t c = 0; c < distance && c < corners; ++c)
        hashes[c] = hashOf(at(c));
    for (size_t c = 0; c < corners; ++c) {
        const uint64_t hash = hashes[c % distance];
        if (c + distance < corners) {
            hashes[c % distance] = hashOf(at(c + distance));
            ahead(hashes[c % distance]);
        }
        out[c] = number(at(c), hash);
    }
}
