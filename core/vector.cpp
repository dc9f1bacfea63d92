#include "core/vector.h"

bool pointInTriangle(vector p, vector a, vector b, vector c)
{
    const vector* corners[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
        const vector& s = *corners[i];
        const vector& e = *corners[(i + 1) % 3];
        vector d = normalised(e - s);
        double side = -d.y * (p.x - s.x) + d.x * (p.y - s.y);
        if (side < 0)
            return false;
    }
    return true;
}

uint64_t positionHash(const vector& p)
{
    uint64_t h = coordinateBits(p.x) * 0x9E3779B97F4A7C15ull;
    h ^= coordinateBits(p.y) + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
    h ^= coordinateBits(p.z) + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
    return h ^ (h >> 31);
}
