#include "mesh/positiontable.h"

namespace {

uint64_t entry(uint64_t hash, size_t number) { return (hash & ~uint64_t(0xFFFFFFFF)) | (number + 1); }

} // namespace

positionTable::positionTable(size_t expected)
{
    size_t size = 16;
    while (size < 2 * expected)
        size <<= 1;
    slots.assign(size, 0);
    keys.reserve(expected);
}

uint32_t positionTable::number(const vector& p, uint64_t hash)
{
    const size_t mask = slots.size() - 1;
    const bool comparable = matchable(p);
    size_t s = hash & mask;
    if (comparable) {
        for (; slots[s] != 0; s = (s + 1) & mask) {
            if ((slots[s] ^ hash) >> 32)
                continue;
            const size_t n = (slots[s] & 0xFFFFFFFF) - 1;
            const key& q = keys[n];
            if (q.x == p.x && q.y == p.y && q.z == p.z && q.w == p.w)
                return static_cast<uint32_t>(n);
        }
    }
    const size_t n = keys.size();
    keys.push_back({p.x, p.y, p.z, p.w});
    if (comparable) {
        slots[s] = entry(hash, n);
        if (2 * keys.size() > slots.size())
            grow();
    }
    return static_cast<uint32_t>(n);
}

void positionTable::grow()
{
    slots.assign(2 * slots.size(), 0);
    const size_t mask = slots.size() - 1;
    for (size_t n = 0; n < keys.size(); ++n) {
        if (!matchable(keys[n]))
            continue;
        const uint64_t h = hashOf(keys[n]);
        size_t s = h & mask;
        while (slots[s] != 0)
            s = (s + 1) & mask;
        slots[s] = entry(h, n);
    }
}
