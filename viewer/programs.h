#pragma once

// What each viewer sets up before its scene is prepared: the eye, the lights and the texel
// test points. Shared by the viewers and by the programs that must bake exactly as they do.

#include "lights/pointlight.h"
#include "lights/spotlight.h"
#include "viewer/scene.h"

#include <string>

// The lights a viewer may use; they must outlive the scene that links them.
struct viewerLights {
    pointlight lamps[3]; // tern's one lamp, heron's three
    spotlight spot;      // tern_depth's
};

// heron's three lamps at the scene's light angle.
void placeCirclingLamps(const Scene& s, viewerLights& lights);

// Sets s up as the named program (marlin, tern, heron or tern_depth) does before it prepares
// its scene: eye, lights linked into s.lights, alpha test points, and for heron the three
// terms it relights. False, with s untouched, for any other name.
bool chooseProgram(const std::string& program, Scene& s, viewerLights& lights);
