#include "viewer/programs.h"

#include "viewer/fixedview.h"
#include "viewer/input.h"
#include "viewer/scenefile.h"

void placeCirclingLamps(const Scene& s, viewerLights& lights)
{
    vector at[3];
    circlingLightPositions(s.lightAngle, at);
    for (int i = 0; i < 3; ++i)
        lights.lamps[i].setPosition(at[i]);
}

bool chooseProgram(const std::string& program, Scene& s, viewerLights& lights)
{
    if (program == "marlin") {
        orbitViewAndLight(s);
    } else if (program == "tern") {
        lights.lamps[0].blocked = blockedInScene;
        // The alpha map is sampled at texel corners and half a texel back.
        s.alphaPoints = alphaTestPoints::cornerThenBack;
        fixedViewAndLight(s, lights.lamps[0]);
    } else if (program == "tern_depth") {
        fixedViewAndLight(s, lights.spot);
        lights.spot.setDirection(negated(lights.spot.position));
    } else if (program == "heron") {
        s.eye.set(0, 0, -10);
        s.ambientTerm = s.diffuseTerm = s.specularTerm = 1;
        placeCirclingLamps(s, lights);
        const colour colours[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
        for (int i = 0; i < 3; ++i) {
            lights.lamps[i].setColour(colours[i]);
            lights.lamps[i].blocked = blockedInScene;
            lights.lamps[i].next = i < 2 ? &lights.lamps[i + 1] : nullptr;
        }
        s.lights = &lights.lamps[0];
    } else {
        return false;
    }
    return true;
}
