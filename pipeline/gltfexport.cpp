#include "pipeline/gltfexport.h"

#include "mesh/object.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace {

constexpr int arrayBuffer = 34962;
constexpr int linear = 9729;
constexpr int linearMipmapLinear = 9987;
constexpr int clampToEdge = 33071;

// Floats appended to the one buffer of the file; every view starts on a 4-byte boundary.
class bufferWriter {
public:
    explicit bufferWriter(tinygltf::Model& model) : model(model)
    {
        if (model.buffers.empty())
            model.buffers.emplace_back();
    }

    // A view of the bytes; target 0 for none.
    int view(const void* bytes, size_t size, int target)
    {
        std::vector<unsigned char>& data = model.buffers[0].data;
        tinygltf::BufferView v;
        v.buffer = 0;
        v.byteOffset = data.size();
        v.byteLength = size;
        v.target = target;
        data.insert(data.end(), static_cast<const unsigned char*>(bytes), static_cast<const unsigned char*>(bytes) + size);
        data.resize((data.size() + 3) & ~size_t(3), 0);
        model.bufferViews.push_back(v);
        return static_cast<int>(model.bufferViews.size()) - 1;
    }

    // An accessor of float vectors of n components, with their bounds when asked.
    int floats(const std::vector<float>& values, int n, bool bounds)
    {
        tinygltf::Accessor a;
        a.bufferView = view(values.data(), values.size() * sizeof(float), arrayBuffer);
        a.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
        a.count = values.size() / static_cast<size_t>(n);
        a.type = n == 2 ? TINYGLTF_TYPE_VEC2 : TINYGLTF_TYPE_VEC3;
        if (bounds) {
            a.minValues.assign(static_cast<size_t>(n), std::numeric_limits<double>::infinity());
            a.maxValues.assign(static_cast<size_t>(n), -std::numeric_limits<double>::infinity());
            for (size_t i = 0; i < values.size(); ++i) {
                double& low = a.minValues[i % static_cast<size_t>(n)];
                double& high = a.maxValues[i % static_cast<size_t>(n)];
                low = std::min(low, static_cast<double>(values[i]));
                high = std::max(high, static_cast<double>(values[i]));
            }
        }
        model.accessors.push_back(a);
        return static_cast<int>(model.accessors.size()) - 1;
    }

private:
    tinygltf::Model& model;
};

bool finite(float v) { return std::isfinite(v); }

// The corner's normal made unit length; the face's where it has none, and up where neither has.
vector unitNormal(const vector& n, const vector& face)
{
    for (const vector& candidate : {n, face}) {
        const double length = std::sqrt(candidate.x * candidate.x + candidate.y * candidate.y + candidate.z * candidate.z);
        if (std::isfinite(length) && length > 0)
            return vector(candidate.x / length, candidate.y / length, candidate.z / length);
    }
    return vector(0, 1, 0);
}

// The corners of an object's triangles, three apiece; glTF's texture rows run top down.
struct corners {
    std::vector<float> positions, normals, lightmapUvs, fileUvs;

    corners(const object& obj, bool withFileUvs)
    {
        const size_t count = std::min(obj.polygons.size(), static_cast<size_t>(std::max(obj.polygonCount, 0)));
        const bool shaded = obj.shadingPolygons.size() >= count;
        for (size_t i = 0; i < count; ++i) {
            const polygon& p = obj.polygons[i];
            const polygon& lit = shaded ? obj.shadingPolygons[i] : p;
            float pos[9], uv[6], file[6];
            for (int k = 0; k < 3; ++k) {
                pos[3 * k] = static_cast<float>(p.position[k].x);
                pos[3 * k + 1] = static_cast<float>(p.position[k].y);
                pos[3 * k + 2] = static_cast<float>(p.position[k].z);
                uv[2 * k] = static_cast<float>(lit.texCoord[k].x);
                uv[2 * k + 1] = static_cast<float>(1.0 - lit.texCoord[k].y);
                file[2 * k] = static_cast<float>(p.texCoord[k].x);
                file[2 * k + 1] = static_cast<float>(1.0 - p.texCoord[k].y);
            }
            if (!std::all_of(pos, pos + 9, finite) || !std::all_of(uv, uv + 6, finite) ||
                (withFileUvs && !std::all_of(file, file + 6, finite)))
                continue;
            positions.insert(positions.end(), pos, pos + 9);
            lightmapUvs.insert(lightmapUvs.end(), uv, uv + 6);
            if (withFileUvs)
                fileUvs.insert(fileUvs.end(), file, file + 6);
            for (int k = 0; k < 3; ++k) {
                const vector n = unitNormal(p.normal[k], p.faceNormal);
                normals.push_back(static_cast<float>(n.x));
                normals.push_back(static_cast<float>(n.y));
                normals.push_back(static_cast<float>(n.z));
            }
        }
    }
};

std::string numbered(const char* prefix, int number)
{
    std::string digits = std::to_string(number);
    return prefix + std::string(digits.size() < 2 ? 2 - digits.size() : 0, '0') + digits;
}

} // namespace

std::vector<uint8_t> encodeGlb(const std::vector<gltfEntry>& entries, std::string& problem)
{
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "bake";
    model.extensionsUsed.push_back("KHR_materials_unlit");
    tinygltf::Sampler sampler;
    sampler.magFilter = linear;
    sampler.minFilter = linearMipmapLinear;
    sampler.wrapS = sampler.wrapT = clampToEdge;
    model.samplers.push_back(sampler);
    model.scenes.emplace_back();
    model.defaultScene = 0;

    bufferWriter buffer(model);
    for (const gltfEntry& entry : entries) {
        const object& obj = *entry.obj;
        const bool withFileUvs = !obj.generatedUvs && obj.uvCount > 0;
        const corners c(obj, withFileUvs);
        if (c.positions.empty() || !entry.png || entry.png->empty())
            continue;
        const std::string name = numbered("object", entry.number);

        tinygltf::Image image;
        image.name = numbered("lightmap", entry.number);
        image.mimeType = "image/png";
        image.bufferView = buffer.view(entry.png->data(), entry.png->size(), 0);
        model.images.push_back(image);
        tinygltf::Texture texture;
        texture.sampler = 0;
        texture.source = static_cast<int>(model.images.size()) - 1;
        model.textures.push_back(texture);

        tinygltf::Material material;
        material.name = image.name;
        material.doubleSided = true; // the lightmap mode draws both sides
        material.pbrMetallicRoughness.baseColorTexture.index = static_cast<int>(model.textures.size()) - 1;
        material.pbrMetallicRoughness.metallicFactor = 0.0;
        material.extensions["KHR_materials_unlit"] = tinygltf::Value(tinygltf::Value::Object());
        model.materials.push_back(material);

        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.material = static_cast<int>(model.materials.size()) - 1;
        primitive.attributes["POSITION"] = buffer.floats(c.positions, 3, true);
        primitive.attributes["NORMAL"] = buffer.floats(c.normals, 3, false);
        primitive.attributes["TEXCOORD_0"] = buffer.floats(c.lightmapUvs, 2, false);
        if (withFileUvs)
            primitive.attributes["TEXCOORD_1"] = buffer.floats(c.fileUvs, 2, false);
        tinygltf::Mesh mesh;
        mesh.name = name;
        mesh.primitives.push_back(primitive);
        model.meshes.push_back(mesh);

        tinygltf::Node node;
        node.name = name;
        node.mesh = static_cast<int>(model.meshes.size()) - 1;
        model.nodes.push_back(node);
        model.scenes[0].nodes.push_back(static_cast<int>(model.nodes.size()) - 1);
    }
    if (model.nodes.empty()) {
        problem = "no object has triangles to write";
        return {};
    }
    // The format counts its length in 32 bits.
    if (model.buffers[0].data.size() > std::numeric_limits<uint32_t>::max() - (64u << 20)) {
        problem = "the scene is over the 4 GiB a .glb file can hold";
        return {};
    }

    std::ostringstream out;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, out, false, true) || !out) {
        problem = "the glTF writer failed";
        return {};
    }
    const std::string bytes = out.str();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
