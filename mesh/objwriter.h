#pragma once

#include <string>

class object;

// The object's triangles as OBJ text, in their order: positions shared where they are equal,
// one texture coordinate and one normal per corner. The texture coordinates are the shading
// copies' (scaled into 0-1, the ones the lightmap was laid out on) when there are shading
// polygons, else the triangles' own; the normals are the corners' (from the file or
// computed). With a material library, the text names it and uses the material.
std::string encodeObj(const object& obj, const std::string& materialLibrary = "",
                      const std::string& material = "");
