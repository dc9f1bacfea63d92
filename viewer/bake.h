#pragma once

// The command-line baker: a scene's lighting baked into texture space as the viewers bake it,
// without a window, written out as lightmaps and meshes.

#include "core/colour.h"
#include "core/vector.h"
#include "texlight/lighting.h"
#include "texlight/tracedlight.h"

#include <memory>
#include <string>
#include <vector>

class light;

// A point light of one's own, as --light gives it.
struct bakeLight {
    vector position;
    colour col{200, 200, 200, 255};
    double range = -1.0; // unlimited
};

// A directional light of one's own, as --sun gives it.
struct bakeSun {
    vector direction; // towards the sun
    colour col{200, 200, 200, 255};
};

// The options of the traced bake (--shadows, --light-radius, --ao, --bounces, --samples),
// --light and --sun, which bake and marlin share.
struct traceOptions {
    traceSettings trace;
    std::vector<bakeLight> lights; // replacing the program's, together with any suns
    std::vector<bakeSun> suns;
};

// Reads the option at args[i] (and its value) when it is one of traceOptions'; sets matched,
// advances i past a separate value, and returns false with the reason for a bad value.
bool readTraceOption(const std::vector<std::string>& args, size_t& i, traceOptions& options, bool& matched,
                     std::string& problem);
extern const char* const traceOptionsUsage;
extern const char* const lightOptionUsage;

// The lights of --light and --sun, in that order, made into owned (replacing what it held) and
// linked; the head of the list, or none when neither was given.
light* makeOwnLights(const std::vector<bakeLight>& points, const std::vector<bakeSun>& suns,
                     std::vector<std::unique_ptr<light>>& owned);

struct bakeOptions {
    std::string sceneFile;
    std::string outputFolder;
    std::string program = "marlin";
    traceOptions traced;
    bool termsGiven = false;
    lightingTerms terms{1, 1, 0};
    bool maps = false; // also the six maps of the viewers' F key
    bool gltf = false;   // also scene.glb
    bool albedo = false; // scene.glb shows the lightmaps times the colour maps
    int threads = 0;   // 0: one per core
    bool help = false;
    bool showUsage = true; // after a problem: false when only a value was wrong
};

extern const char* const bakeUsage;

// Reads the arguments after the program name; false with the reason for bad usage.
bool parseBakeArguments(const std::vector<std::string>& args, bakeOptions& options, std::string& problem);

// Bakes and writes everything; the exit status: 0 when every object line was baked with all
// it names (maps, faces, triangles) and every file written, 1 otherwise. Uses the global scene, as the viewers' shadow-ray test does.
int runBake(const bakeOptions& options);
