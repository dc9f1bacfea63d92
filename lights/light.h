#pragma once

#include "core/colour.h"
#include "core/vector.h"

class object;

// What a light tells relighting about itself, so that relighting needs no knowledge of light
// classes: the common forms are computed without virtual calls, and any light whose
// operations are safe to call from several threads at once keeps the shared rows.
struct lightForm {
    enum kind {
        general,        // only toLight and illumination say how it shines
        unlimitedPoint, // full colour from position, everywhere
        directional,    // full colour along direction (towards the light), everywhere
    };
    kind shape = general;
    vector position;  // unlimitedPoint
    vector direction; // directional: unit vector towards the light
    ::colour colour;
    bool shareable = true; // toLight and illumination may run on several threads at once
};

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
    virtual lightForm form() const;

    void setColour(::colour k) { colour = k; }

    light* next = nullptr;                       // next light of the list, not owned
    ::colour colour = ::colour(255, 255, 255, 255); // 0-255 per component
};
