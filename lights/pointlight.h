#pragma once

#include "lights/light.h"

// A light shining equally in all directions from one point.
class pointlight : public light {
public:
    pointlight() = default;

    vector toLight(vector p) override { return position - p; }
    ::colour illumination(vector p) override;
    void setPosition(vector v) override { position = v; }
    void setRange(double r) override { range = r; }
    void drawShadowVolumes(object** objects, int count) override;
    void drawMarker() override;
    lightForm form() const override;

    vector position = vector(10, 10, 10); // world space
    double range = -1.0; // reach of the light; exactly -1.0 means unlimited
    // Optional test of whether the segment from p along d (towards the light) is blocked;
    // only consulted within a limited range.
    bool (*blocked)(vector d, vector p) = nullptr;
};
