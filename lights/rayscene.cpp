#include "lights/rayscene.h"

#include "core/console.h"
#include "core/workers.h"
#include "mesh/object.h"
#include "mesh/positiontable.h"

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

// Welds the corners of an object's shading polygons that are the same position in single
// precision, so that neighbouring triangles share their vertices.
struct weldedMesh {
    std::vector<float> vertices; // x, y, z per vertex
    std::vector<unsigned> indices; // three per triangle
};

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
    positionTable table(count / 2);
    for (size_t c = 0; c < 3 * count; ++c) {
        const float* f = &corners[3 * c];
        mesh.indices[c] = table.number(vector(f[0], f[1], f[2]));
        if (mesh.indices[c] == mesh.vertices.size() / 3)
            mesh.vertices.insert(mesh.vertices.end(), f, f + 3);
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
