#pragma once

#include "core/matrix.h"
#include "lights/light.h"

#include <memory>

// A light shining from a point into a cone about an axis: full colour inside the inner cone,
// fading linearly to black at the outer cone, and nothing beyond farDistance. It also keeps
// a depth map of the scene rendered from its own point of view.
class spotlight : public light {
public:
    spotlight() = default;

    vector toLight(vector p) override { return position - p; }
    ::colour illumination(vector p) override;
    void setPosition(vector v) override { position = v; }
    void setDirection(vector v) override { direction = v; }
    // setRange is inherited: the reach is farDistance, which stays fixed.
    void buildDepthMap(object** objects, int count) override;
    void drawShadowVolumes(object** objects, int count) override;
    void drawMarker() override;

    matrix modelviewMatrix;  // the light's view, as used for the last depth map
    matrix projectionMatrix; // the light's perspective, as used for the last depth map
    matrix shadowMatrix;     // world point to the light's clip space: projection times view
    double cosInner = 0.7;   // cosine of the half-angle of the full-brightness cone
    double cosOuter = 0.6;   // cosine of the half-angle beyond which nothing is lit
    vector position = vector(0, 0, 0);  // apex of the cone, world space
    vector direction = vector(1, -1, -1); // axis of the cone; any length
    double depthMapWidth = 256.0;
    double depthMapHeight = 256.0;
    // Window depths of the last map, bottom row first; null before the first map.
    std::unique_ptr<float[]> depthMap;
    double farDistance = 40.0;  // reach of the light and far plane of the depth map
    double nearDistance = 10.0; // near plane of the depth map
    double minDepth = 0.0;
    double maxDepth = 0.0;
};
