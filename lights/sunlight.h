#pragma once

#include "lights/light.h"

// A light so far away that its rays are parallel: the same colour everywhere, arriving along
// -direction, with no position and no fall-off.
class sunlight : public light {
public:
    sunlight() = default;

    vector toLight(vector) override { return direction; }
    ::colour illumination(vector) override { return colour; }
    // Any length but zero; stored as a unit vector.
    void setDirection(vector v) override;
    void drawShadowVolumes(object** objects, int count) override;
    lightForm form() const override;

    vector direction = vector(0, 1, 0); // unit vector towards the sun
};
