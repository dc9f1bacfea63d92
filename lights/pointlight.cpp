#include "lights/pointlight.h"

#include "lights/shadowvolume.h"

#include <cmath>

::colour pointlight::illumination(vector p)
{
    if (range == -1.0)
        return colour;
    vector d = position - p;
    double dist = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    if (dist >= range)
        return ::colour(0, 0, 0, 255);
    if (blocked && blocked(d, p))
        return ::colour(0, 0, 0, 255);
    // Full colour at the light, fading linearly to black at the edge of its reach.
    return scaled(colour, 1.0 - dist / range);
}

lightForm pointlight::form() const
{
    lightForm f;
    if (range == -1.0) {
        f.shape = lightForm::unlimitedPoint;
        f.position = position;
        f.colour = colour;
    } else {
        // Within a limited range the blocking test may be any function.
        f.shareable = !blocked;
    }
    return f;
}

void pointlight::drawShadowVolumes(object** objects, int count)
{
    drawShadowVolumesFrom(position, objects, count);
}
