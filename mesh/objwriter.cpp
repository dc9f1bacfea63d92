#include "mesh/objwriter.h"

#include "mesh/object.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>
#include <unordered_map>

namespace {

struct positionKey {
    uint64_t bits[3];
    bool operator==(const positionKey& o) const { return std::memcmp(bits, o.bits, sizeof bits) == 0; }
};

struct positionHash {
    size_t operator()(const positionKey& k) const
    {
        uint64_t h = k.bits[0] * 0x9E3779B97F4A7C15ull;
        h ^= k.bits[1] + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
        h ^= k.bits[2] + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
        return static_cast<size_t>(h ^ (h >> 31));
    }
};

positionKey keyOf(const vector& v)
{
    positionKey k;
    const double parts[3] = {v.x + 0.0, v.y + 0.0, v.z + 0.0}; // -0 and 0 are one position
    std::memcpy(k.bits, parts, sizeof parts);
    return k;
}

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

    std::unordered_map<positionKey, long long, positionHash> index;
    std::vector<long long> cornerIndex(3 * count);
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) {
            const vector& p = obj.polygons[i].position[k];
            auto found = index.emplace(keyOf(p), static_cast<long long>(index.size()) + 1);
            if (found.second)
                appendRecord(out, "v", p, 3);
            cornerIndex[3 * i + static_cast<size_t>(k)] = found.first->second;
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
            out += ' ' + std::to_string(cornerIndex[3 * i + static_cast<size_t>(k)]) + '/' + corner + '/' + corner;
        }
        out += '\n';
    }
    return out;
}
