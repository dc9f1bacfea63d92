#include "fuzz/targets.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"

#include <cstring>
#include <memory>

namespace {

// Small maps: the mesh is what is fuzzed, not the map size.
const int mapSize = 4;

std::string expectedReport(const object& obj, const std::string& path)
{
    return "Object Data: \n\nFILE NAME: " + path + "\nVERTICES: " + std::to_string(obj.vertexCount) +
           "\nUVS: " + std::to_string(obj.uvCount) + "\nNORMALS: " +
           std::to_string(obj.normalCount) + "\nPOLYGONS: " + std::to_string(obj.polygonCount) +
           "\n\n";
}

bool isComputedNormalsLine(const std::string& line)
{
    const std::string head = "NORMALS COMPUTED: ", tail = " corners without a normal in the file\n";
    if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    for (size_t i = head.size(); i < line.size() - tail.size(); ++i)
        if (line[i] < '0' || line[i] > '9')
            return false;
    return true;
}

// The loader says only its report, index messages and its closing line.
std::string checkLoaderText(const object& obj, const std::string& text, const std::string& path)
{
    const std::string head = expectedReport(obj, path);
    const std::string tail = "Object '" + path + "' loaded successfully\n";
    if (text.compare(0, head.size(), head) != 0)
        return "report differs: " + text.substr(0, 200);
    if (text.size() < head.size() + tail.size() ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return "no closing line";
    size_t at = head.size();
    const size_t stop = text.size() - tail.size();
    while (at < stop) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at + 1);
        if (line != "ERROR: Vertex index is out of range!\n" &&
            line != "ERROR: UV index is out of range!\n" &&
            line != "ERROR: Normal index is out of range!\n" &&
            line != "ERROR: Faces with fewer than three corners skipped!\n" &&
            line != "ERROR: Faces beyond the triangles memory can hold skipped!\n" &&
            !isComputedNormalsLine(line))
            return "unexpected line: " + line.substr(0, 200);
        at = end + 1;
    }
    return "";
}

// What a viewer does with a freshly loaded object, short of OpenGL.
void prepareWithoutGl(object& obj)
{
    auto bump = std::make_unique<bitmap>(3, 2, 3);
    for (size_t i = 0; i < bump->byteCount(); ++i)
        bump->pixels[i] = static_cast<uint8_t>(i * 41);
    obj.setBumpMap(std::move(bump));

    // The viewers' preparation short of OpenGL, then all three terms relit once more.
    pointlight lamp;
    lamp.setPosition(vector(0, 5.721, 0));
    lamp.setColour(colour(200, 200, 200, 255));
    preparationSettings settings;
    settings.lights = &lamp;
    settings.eye = vector(-1, 0, 0);
    prepareObjectData(&obj, colour(50, 50, 50, 255), colour(200, 200, 200, 255), colour(255, 255, 255, 255),
                      settings);
    relight(&obj, {1, 1, 1}, &lamp, settings.eye, settings.ambientColour, true);
    obj.markFacing(settings.eye);
}

std::string checkPrepared(const object& obj)
{
    // A mesh without texture coordinates gets no shading copies at all.
    size_t shading = obj.uvCount > 0 ? obj.polygons.size() : 0;
    if (obj.shadingPolygons.size() != shading)
        return "shading polygons: " + std::to_string(obj.shadingPolygons.size()) + " of " +
               std::to_string(shading);
    if (obj.edgeCount != static_cast<int>(obj.edges.size()))
        return "edge count disagrees";
    for (const edge& e : obj.edges)
        if (e.firstFace < 0 || e.firstFace >= obj.polygonCount || e.secondFace < -1 ||
            e.secondFace >= obj.polygonCount)
            return "edge names a polygon that is not there";
    const polygon* first = obj.shadingPolygons.data();
    const polygon* last = first + obj.shadingPolygons.size();
    for (int x = 0; x < mapSize; ++x)
        for (int y = 0; y < mapSize; ++y) {
            const polygon* p = obj.alphaMap[x][y];
            if (p && (p < first || p >= last))
                return "coverage points outside the shading polygons";
        }
    return "";
}

} // namespace

std::string objInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
    if (size)
        std::memcpy(bytes.get(), data, size);
    const std::string path = "fuzz.obj";

    std::unique_ptr<object> obj;
    std::string text;
    {
        consoleCapture capture;
        obj = parseObject(bytes.get(), size, path, mapSize, mapSize);
        text = capture.text();
    }
    if (!obj)
        return "no object: " + text.substr(0, 200);
    if (obj->vertices.size() != static_cast<size_t>(obj->vertexCount) ||
        obj->uvs.size() != static_cast<size_t>(obj->uvCount) ||
        obj->normals.size() != static_cast<size_t>(obj->normalCount) ||
        obj->polygons.size() != static_cast<size_t>(obj->polygonCount))
        return "counts disagree with the lists";
    // Each record takes its keyword and a separator (or the end), so no count can outgrow
    // the file.
    size_t records = obj->vertices.size() + obj->uvs.size() + obj->normals.size() +
                     obj->polygons.size();
    if (records > (size + 1) / 2)
        return std::to_string(records) + " records in " + std::to_string(size) + " bytes";
    std::string problem = checkLoaderText(*obj, text, path);
    if (!problem.empty())
        return problem;

    {
        consoleCapture quiet;
        prepareWithoutGl(*obj);
    }
    return checkPrepared(*obj);
}

RENDER_FUZZ_TARGET(objInput)
