#include "mesh/objwriter.h"

#include "mesh/object.h"
#include "mesh/positiontable.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

// The shortest text that reads back as the same double.
void appendNumber(std::string& out, double d)
{
    char text[32];
    std::to_chars_result r = std::to_chars(text, text + sizeof text, d);
    out.append(text, r.ptr);
}

void appendRecord(std::string& out, const char* keyword, const vector& v, int count)
{
    out += keyword;
    const double parts[3] = {v.x, v.y, v.z};
    for (int i = 0; i < count; ++i) {
        out += ' ';
        appendNumber(out, parts[i]);
    }
    out += '\n';
}

} // namespace

std::string encodeObj(const object& obj, const std::string& materialLibrary, const std::string& material)
{
    const size_t count = std::min(obj.polygons.size(), static_cast<size_t>(std::max(obj.polygonCount, 0)));
    const bool shaded = obj.shadingPolygons.size() >= count;
    std::string out;
    if (!materialLibrary.empty())
        out += "mtllib " + materialLibrary + "\n";

    // Positions that compare equal share a "v" record; a NaN never equals itself, so each
    // corner holding one gets its own.
    positionTable table(count / 2);
    std::vector<uint32_t> cornerIndex(3 * count);
    table.numberCorners(obj.polygons.data(), count, cornerIndex.data());
    for (size_t c = 0, written = 0; c < 3 * count; ++c)
        if (cornerIndex[c] == written) {
            appendRecord(out, "v", obj.polygons[c / 3].position[c % 3], 3);
            ++written;
        }
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k)
            appendRecord(out, "vt", (shaded ? obj.shadingPolygons[i] : obj.polygons[i]).texCoord[k], 2);
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k)
            appendRecord(out, "vn", obj.polygons[i].normal[k], 3);
    if (!material.empty())
        out += "usemtl " + material + "\n";
    for (size_t i = 0; i < count; ++i) {
        out += 'f';
        for (int k = 0; k < 3; ++k) {
            const std::string corner = std::to_string(3 * i + static_cast<size_t>(k) + 1);
            out += ' ' + std::to_string(cornerIndex[3 * i + static_cast<size_t>(k)] + 1) + '/' + corner + '/' + corner;
        }
        out += '\n';
    }
    return out;
}
