#pragma once

// A baked scene as one glTF 2.0 binary file, for engines and web viewers.

#include <cstdint>
#include <string>
#include <vector>

class object;

// One object of the file: its triangles, and the PNG image shown on them without lighting.
struct gltfEntry {
    const object* obj = nullptr;
    int number = 0;           // the object's number in the other files' names
    const std::vector<uint8_t>* png = nullptr; // the lightmap as written beside it (or times the colour map)
};

// The bytes of a .glb file holding each entry as a node "objectNN" with one mesh: positions,
// unit normals, the lightmap's texture coordinates as TEXCOORD_0 and the file's as TEXCOORD_1
// (where the object read them), and an unlit material showing the entry's image. Triangles
// with a position or texture coordinate that is not a finite float are left out, and so are
// objects left without triangles. Empty, with the reason in problem, when it cannot be made.
std::vector<uint8_t> encodeGlb(const std::vector<gltfEntry>& entries, std::string& problem);
