#pragma once

#include "core/colour.h"
#include "core/vector.h"

class object;

// A light of the scene. Lights form a singly linked list through next; the list does not own
// them. The virtual operations keep this slot order in every light class.
class light {
public:
    light() = default;
    light(const light&) = delete;
    light& operator=(const light&) = delete;
    virtual ~light() = default;

    virtual vector toLight(vector p);     // from p towards the light, not normalised
    virtual ::colour illumination(vector p); // light arriving at p; black where it does not reach
    virtual void setPosition(vector v);
    virtual void setDirection(vector v);
    virtual void setRange(double r);
    virtual void buildDepthMap(object** objects, int count);
    virtual void drawShadowVolumes(object** objects, int count);
    virtual void drawMarker();

    void setColour(::colour k) { colour = k; }

    light* next = nullptr;                       // next light of the list, not owned
    ::colour colour = ::colour(255, 255, 255, 255); // 0-255 per component
};
