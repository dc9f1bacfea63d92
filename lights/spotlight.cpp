#include "lights/spotlight.h"

#include <cmath>

::colour spotlight::illumination(vector p)
{
    vector d = p - position;
    double dist = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    if (dist >= farDistance)
        return ::colour(0, 0, 0, 255);
    // At the apex there is no ray to the point, so no angle: unlit.
    if (dist == 0.0)
        return ::colour(0, 0, 0, 255);
    vector u = d / dist;
    double ca = dot(u, normalised(direction)); // a zero axis gives 0: outside any cone
    if (ca <= cosOuter)
        return ::colour(0, 0, 0, 255);
    if (ca >= cosInner)
        return colour;
    return scaled(colour, (ca - cosOuter) / (cosInner - cosOuter));
}
