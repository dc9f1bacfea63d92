#include "lights/sunlight.h"

#include "lights/shadowvolume.h"

void sunlight::setDirection(vector v)
{
    direction = normalised(vector(v.x, v.y, v.z));
}

void sunlight::drawShadowVolumes(object** objects, int count)
{
    // Stencil volumes need a point to extrude from; one far out along the rays stands in.
    drawShadowVolumesFrom(direction * 1.0e4, objects, count);
}

lightForm sunlight::form() const
{
    lightForm f;
    f.shape = lightForm::directional;
    f.direction = direction;
    f.colour = colour;
    return f;
}
