// Relighting speed: the diffuse, specular and single-pass terms over a whole lightmap,
// reported as texel-light evaluations per second (best of several runs).
//
//   lighting_bench [threads [lanes]]   (default: the library's own number; lanes 2 keeps to
//                                       the two-lane form where eight would be available)
//
// The object is a wavy grid surface of about 20k triangles whose texture coordinates cover
// the whole map, so nearly every texel is lit.

#include "bench/gridmesh.h"
#include "core/console.h"
#include "core/workers.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "texlight/lighting.h"
#include "texlight/surfacemaps.h"
#include "texlight/widelighting.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

double bestSeconds(int repeats, const std::function<void()>& work)
{
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        auto start = std::chrono::steady_clock::now();
        {
            consoleCapture quiet;
            work();
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

long litTexels(const object& obj)
{
    long n = 0;
    for (int x = 0; x < obj.finalBitmap->width; ++x)
        for (int y = 0; y < obj.finalBitmap->height; ++y)
            n += obj.alphaMap[x][y] != nullptr;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        setSharedWorkerThreads(std::max(1, std::atoi(argv[1])));
    const bool eight = wideLightingAvailable() && !(argc > 2 && std::atoi(argv[2]) == 2);
    allowWideRelighting(eight);
    say("threads: %d, lanes: %d\n", sharedWorkers().threads(), eight ? 8 : 2);
    std::vector<polygon> polys = gridSurface(100);
    pointlight lights[3];
    const vector places[3] = {{0, 4, 0}, {3, 2, -1}, {-2, 3, 2}};
    for (int i = 0; i < 3; ++i) {
        lights[i].setPosition(places[i]);
        lights[i].setColour(colour(200, 180, 160, 255));
    }
    const vector eye(0, 3, 6);

    say("%6s %6s %10s %10s %14s\n", "map", "lights", "term", "seconds", "evaluations/s");
    for (int size : {256, 1024}) {
        object obj(size, size);
        obj.shadingPolygons = polys;
        obj.polygonCount = static_cast<int>(polys.size());
        {
            consoleCapture quiet;
            generateAlphaMap(&obj);
            generatePositionsMap(&obj);
            generateNormalsMap(&obj);
            for (int kind : {0, 1, 2, 3})
                initialiseBitmap(&obj, kind);
            setMaterialColour(&obj, 0, colour(200, 200, 200, 255));
            setMaterialColour(&obj, 1, colour(100, 100, 100, 255));
            setMaterialColour(&obj, 2, colour(255, 255, 255, 255));
        }
        const long texels = litTexels(obj);
        for (int count : {1, 3}) {
            for (int i = 0; i < 3; ++i)
                lights[i].next = (i + 1 < count) ? &lights[i + 1] : nullptr;
            const int repeats = size == 256 ? 40 : 10;
            struct term {
                const char* name;
                std::function<void()> run;
            } terms[] = {
                {"diffuse", [&] { accumulateDiffuse(&obj, lights, eye); }},
                {"specular", [&] { accumulateSpecular(&obj, lights, eye); }},
                {"all", [&] { accumulateAll(&obj, lights, eye, colour(100, 100, 100, 255)); }},
            };
            for (const term& t : terms) {
                double s = bestSeconds(repeats, t.run);
                say("%6d %6d %10s %10.4f %14.0f\n", size, count, t.name, s, texels * double(count) / s);
            }
        }
    }
    return 0;
}
