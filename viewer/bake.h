#pragma once

// The command-line baker: a scene's lighting baked into texture space as the viewers bake it,
// without a window, written out as lightmaps and meshes.

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"

#include <string>
#include <vector>

// A point light of one's own, as --light gives it.
struct bakeLight {
    vector position;
    colour col{200, 200, 200, 255};
    double range = -1.0; // unlimited
};

struct bakeOptions {
    std::string sceneFile;
    std::string outputFolder;
    std::string program = "marlin";
    std::vector<bakeLight> lights; // replacing the program's
    bool termsGiven = false;
    lightingTerms terms{1, 1, 0};
    bool maps = false; // also the six maps of the viewers' F key
    int threads = 0;   // 0: one per core
    bool help = false;
};

extern const char* const bakeUsage;

// Reads the arguments after the program name; false with the reason for bad usage.
bool parseBakeArguments(const std::vector<std::string>& args, bakeOptions& options, std::string& problem);

// Bakes and writes everything; the exit status: 0 when every object line was baked and every
// file written, 1 otherwise. Uses the global scene, as the viewers' shadow-ray test does.
int runBake(const bakeOptions& options);
