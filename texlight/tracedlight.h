#pragma once

// Light that needs the whole scene: shadows cast by any object, soft shadows of lights of
// some size, ambient occlusion and light bounced between surfaces. Rays are traced through
// every object's triangles once all objects have their surface maps; what they find is left
// in each object's tracedTexels, which the lighting then applies.

#include <cstddef>
#include <cstdint>
#include <vector>

class light;
class object;

struct traceSettings {
    bool shadows = false;      // a light reaches a texel only along an unblocked segment
    double lightRadius = 0.0;  // above 0: point and spot lights are spheres, shadows soft
    bool ambientOcclusion = false;
    double occlusionDistance = 0.0; // 0: a tenth of the scene's bounding-box diagonal
    int bounces = 0;           // indirect diffuse bounces
    int samples = 64;          // rays per texel for soft shadows, occlusion and each bounce; 1 at least
    // The objects whose texels are wanted, by number; empty: all. The others only stand in the
    // way of the light and pass it on, and get no more than that needs.
    std::vector<bool> only;

    bool wanted(int object) const
    {
        return only.empty() || (object >= 0 && static_cast<size_t>(object) < only.size() && only[static_cast<size_t>(object)]);
    }

    bool any() const { return shadows || ambientOcclusion || bounces > 0; }
};

struct traceReport {
    bool traced = false; // false when nothing was asked or the rays could not be traced
    long long shadowRays = 0;
    long long occlusionRays = 0;
    long long bounceRays = 0;
    double buildSeconds = 0;      // the ray scene
    double shadowSeconds = 0;
    double occlusionSeconds = 0;
    double bounceSeconds = 0;
    long long triangles = 0;

    long long rays() const { return shadowRays + occlusionRays + bounceRays; }
    double traceSeconds() const { return shadowSeconds + occlusionSeconds + bounceSeconds; }
};

// Traces what settings ask for through all objects and replaces each object's tracedTexels,
// for the lights of the list in list order. Each object needs its surface maps and material
// colours. Rays are shared among the threads of sharedWorkers() when every light allows it;
// every texel's rays are seeded from its object, texel and pass, so the result is the same
// for any number of threads. Prints a progress line per object and pass, then a summary.
traceReport traceScene(object* const* objects, int count, light* lights, const traceSettings& settings);

// The seed of one texel's rays in one pass.
uint64_t traceSeed(int objectIndex, int64_t texel, int pass);
