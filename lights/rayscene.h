#pragma once

#include "core/vector.h"

#include <embree3/rtcore.h>

class object;

// Every triangle of a scene's objects, in world space and single precision, in one structure
// that rays are traced through. Object i is geometry i and its shading polygon k primitive k;
// each object's corners are welded into one vertex array. Built once; queries may come from
// any number of threads.
class rayScene {
public:
    rayScene(object* const* objects, int count);
    ~rayScene();
    rayScene(const rayScene&) = delete;
    rayScene& operator=(const rayScene&) = delete;

    // False when the ray library could not start or build; an "ERROR: " line has been said.
    bool ready() const { return scene != nullptr; }
    RTCScene handle() const { return scene; }

    vector lowest, highest; // bounds of every finite corner; both 0 without any
    double diagonal() const;
    double buildSeconds = 0;
    long long triangles = 0;

private:
    RTCScene scene = nullptr;
};
