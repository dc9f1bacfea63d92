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
