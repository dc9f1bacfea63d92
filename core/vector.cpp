#include "core/vector.h"

#include <cmath>

void normalise(vector& v)
{
    double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0)
        return;
    // Zero components are left alone so that -0.0 and 0.0 stay as they were.
    if (v.x != 0.0) v.x /= len;
    if (v.y != 0.0) v.y /= len;
    if (v.z != 0.0) v.z /= len;
}

vector normalised(vector a)
{
    normalise(a);
    return a;
}

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
