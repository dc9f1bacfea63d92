#include "lights/rayscene.h"

#include "core/console.h"
#include "core/workers.h"
#include "mesh/object.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

RTCDevice device()
{
    // One device for the whole run: starting one costs a thread pool.
    static RTCDevice shared = rtcNewDevice(nullptr);
    return shared;
}

// Welds the corners of an object's shading polygons that have the same single-precision
// coordinates, so that neighbouring triangles share their vertices.
struct weldedMesh {
    std::vector<float> vertices; // x, y, z per vertex
    std::vector<unsigned> indices; // three per triangle
};

uint32_t floatBits(float f)
{
    f += 0.0f; // -0 and 0 alike
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

weldedMesh weld(const object& obj)
{
    const size_t count = obj.shadingPolygons.size();
    // The corners in single precision first, shared among the threads: reading them out of
    // the polygons is most of the work.
    std::vector<float> corners(9 * count);
    const size_t chunk = 16384;
    const int pieces = static_cast<int>((count + chunk - 1) / chunk);
    sharedWorkers().forEachPiece(pieces, [&](int piece) {
        const size_t end = std::min(count, (piece + 1) * chunk);
        for (size_t i = piece * chunk; i < end; ++i)
            for (int k = 0; k < 3; ++k) {
                const vector& p = obj.shadingPolygons[i].position[k];
                float* f = &corners[9 * i + 3 * k];
                f[0] = static_cast<float>(p.x);
                f[1] = static_cast<float>(p.y);
                f[2] = static_cast<float>(p.z);
            }
    });
    weldedMesh mesh;
    mesh.indices.resize(3 * count);
    mesh.vertices.reserve(3 * count);
    size_t slots = 16;
    while (slots < 6 * count)
        slots *= 2;
    std::vector<unsigned> table(slots, ~0u); // vertex index, or empty
    for (size_t c = 0; c < 3 * count; ++c) {
        const float* f = &corners[3 * c];
        const uint64_t key = (uint64_t(floatBits(f[0])) << 32 | floatBits(f[1])) * 0x9E3779B97F4A7C15ull ^
                             floatBits(f[2]) * 0xC2B2AE3D27D4EB4Full;
        size_t at = static_cast<size_t>(mixBits(key)) & (slots - 1);
        for (;; at = (at + 1) & (slots - 1)) {
            unsigned& slot = table[at];
            if (slot == ~0u) {
                slot = static_cast<unsigned>(mesh.vertices.size() / 3);
                mesh.vertices.insert(mesh.vertices.end(), f, f + 3);
                break;
            }
            const float* v = &mesh.vertices[3 * size_t(slot)];
            if (floatBits(v[0]) == floatBits(f[0]) && floatBits(v[1]) == floatBits(f[1]) &&
                floatBits(v[2]) == floatBits(f[2]))
                break;
        }
        mesh.indices[c] = table[at];
    }
    return mesh;
}

} // namespace

rayScene::rayScene(object* const* objects, int count)
{
    const auto start = std::chrono::steady_clock::now();
    RTCDevice dev = device();
    if (!dev) {
        say("ERROR: The ray tracing device could not be started!\n");
        return;
    }
    scene = rtcNewScene(dev);
    // Robust traversal: no ray slips between two triangles that share an edge.
    rtcSetSceneFlags(scene, RTC_SCENE_FLAG_ROBUST);
    bool first = true;
    for (int i = 0; i < count; ++i) {
        const weldedMesh mesh = weld(*objects[i]);
        const size_t triangleCount = mesh.indices.size() / 3;
        for (size_t v = 0; v + 2 < mesh.vertices.size(); v += 3) {
            const vector p(mesh.vertices[v], mesh.vertices[v + 1], mesh.vertices[v + 2]);
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                continue;
            if (first) {
                lowest = highest = p;
                first = false;
            }
            lowest = vector(std::min(lowest.x, p.x), std::min(lowest.y, p.y), std::min(lowest.z, p.z));
            highest = vector(std::max(highest.x, p.x), std::max(highest.y, p.y), std::max(highest.z, p.z));
        }
        if (triangleCount == 0)
            continue;
        RTCGeometry geometry = rtcNewGeometry(dev, RTC_GEOMETRY_TYPE_TRIANGLE);
        const size_t vertexCount = mesh.vertices.size() / 3;
        auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0,
                                                                     RTC_FORMAT_FLOAT3, 3 * sizeof(float), vertexCount));
        auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0,
                                                                       RTC_FORMAT_UINT3, 3 * sizeof(unsigned), triangleCount));
        if (vertices && indices) {
            std::memcpy(vertices, mesh.vertices.data(), mesh.vertices.size() * sizeof(float));
            std::memcpy(indices, mesh.indices.data(), mesh.indices.size() * sizeof(unsigned));
        }
        rtcCommitGeometry(geometry);
        rtcAttachGeometryByID(scene, geometry, static_cast<unsigned>(i));
        rtcReleaseGeometry(geometry);
        triangles += static_cast<long long>(triangleCount);
    }
    rtcCommitScene(scene);
    if (rtcGetDeviceError(dev) != RTC_ERROR_NONE) {
        say("ERROR: The scene's triangles could not be prepared for ray tracing!\n");
        rtcReleaseScene(scene);
        scene = nullptr;
    }
    buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

rayScene::~rayScene()
{
    if (scene)
        rtcReleaseScene(scene);
}

double rayScene::diagonal() const
{
    const vector d = highest - lowest;
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}
