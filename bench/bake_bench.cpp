// Speed of the traced bake: rays per second for shadow, occlusion and bounce rays over a
// generated scene, the time to build the ray scene, and the occlusion bake of a smaller mesh
// as texel-samples per second.
//
//   bake_bench [threads]   (default: the library's own number)
//
// The scene is a wavy grid surface of about 100k triangles whose texture coordinates cover a
// 1024 x 1024 map, lit from above and to one side so that its waves shadow each other.

#include "bench/gridmesh.h"
#include "core/console.h"
#include "core/workers.h"
#include "lights/pointlight.h"
#include "lights/rayscene.h"
#include "mesh/object.h"
#include "texlight/surfacemaps.h"
#include "texlight/tracedlight.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<object> gridObject(int n, int mapSize)
{
    auto obj = std::make_unique<object>(mapSize, mapSize);
    obj->polygons = gridSurface(n);
    obj->shadingPolygons = obj->polygons;
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    for (polygon& p : obj->shadingPolygons)
        p.faceNormal = normalised(cross(p.position[1] - p.position[0], p.position[2] - p.position[0]));
    consoleCapture quiet;
    generateAlphaMap(obj.get());
    generatePositionsMap(obj.get());
    generateNormalsMap(obj.get());
    return obj;
}

long long coveredTexels(const object& obj)
{
    long long n = 0;
    for (int x = 0; x < obj.finalBitmap->width; ++x)
        for (int y = 0; y < obj.finalBitmap->height; ++y)
            n += obj.alphaMap[x][y] != nullptr;
    return n;
}

traceReport trace(object* obj, light* lights, const traceSettings& settings)
{
    consoleCapture quiet;
    object* objects[] = {obj};
    return traceScene(objects, 1, lights, settings);
}

double perSecond(long long count, double seconds) { return seconds > 0 ? count / seconds / 1e6 : 0.0; }

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        setSharedWorkerThreads(std::max(1, std::atoi(argv[1])));
    std::printf("threads: %d\n", sharedWorkers().threads());

    std::unique_ptr<object> scene = gridObject(224, 1024);
    pointlight lamp;
    lamp.setPosition(vector(-3, 4, 1));
    std::printf("scene: %d triangles, %lld covered texels of 1024 x 1024\n", scene->polygonCount,
                coveredTexels(*scene));

    traceSettings hard;
    hard.shadows = true;
    traceReport r = trace(scene.get(), &lamp, hard);
    std::printf("ray scene built in %.3f s\n", r.buildSeconds);
    std::printf("hard shadows: %lld rays in %.3f s: %.1f M rays/s\n", r.shadowRays, r.shadowSeconds,
                perSecond(r.shadowRays, r.shadowSeconds));

    traceSettings soft = hard;
    soft.lightRadius = 0.5;
    soft.samples = 16;
    r = trace(scene.get(), &lamp, soft);
    std::printf("soft shadows (16 samples): %lld rays in %.3f s: %.1f M rays/s\n", r.shadowRays, r.shadowSeconds,
                perSecond(r.shadowRays, r.shadowSeconds));

    traceSettings occlusion;
    occlusion.ambientOcclusion = true;
    occlusion.samples = 64;
    r = trace(scene.get(), &lamp, occlusion);
    std::printf("occlusion (64 samples): %lld rays in %.3f s: %.1f M rays/s\n", r.occlusionRays,
                r.occlusionSeconds, perSecond(r.occlusionRays, r.occlusionSeconds));

    traceSettings bounce;
    bounce.bounces = 1;
    bounce.samples = 16;
    r = trace(scene.get(), &lamp, bounce);
    std::printf("one bounce (16 samples): %lld rays in %.3f s: %.1f M rays/s\n", r.bounceRays, r.bounceSeconds,
                perSecond(r.bounceRays, r.bounceSeconds));
    scene.reset();

    {
        std::unique_ptr<object> big = std::make_unique<object>(0, 0);
        big->shadingPolygons = gridSurface(708);
        object* objects[] = {big.get()};
        rayScene rays(objects, 1);
        std::printf("ray scene of %lld triangles built in %.3f s\n", rays.triangles, rays.buildSeconds);
    }

    std::unique_ptr<object> mesh = gridObject(187, 1024);
    traceSettings heavy;
    heavy.ambientOcclusion = true;
    heavy.samples = 256;
    const auto start = std::chrono::steady_clock::now();
    r = trace(mesh.get(), &lamp, heavy);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long long texelSamples = coveredTexels(*mesh) * heavy.samples;
    std::printf("occlusion of %d triangles at 1024 x 1024, 256 samples: %.2f s in all (ray scene included): "
                "%.1f M texel-samples/s\n",
                mesh->polygonCount, whole, perSecond(texelSamples, whole));
    return 0;
}
