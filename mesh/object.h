#pragma once

#include "core/bitmap.h"
#include "core/grid.h"
#include "core/matrix.h"
#include "core/vector.h"
#include "mesh/edge.h"
#include "mesh/polygon.h"
#include "mesh/texture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What rays traced through the whole scene leave at each texel (index y * width + x) for the
// lighting: how much of each light of the list reaches it, how open it is to the ambient
// light, and the light bounced onto it. An empty table changes nothing.
struct tracedTexels {
    int lightCount = 0;
    std::vector<float> visibility; // [texel * lightCount + light]: 0 blocked to 1 open
    std::vector<float> occlusion;  // [texel]: 0 closed to 1 open
    std::vector<float> indirect;   // [3 * texel + channel]: added to the diffuse light sums
};

// One scene entry: a triangle mesh, its material, its texture-space maps and GL names.
class object {
public:
    // Map sizes give the lighting bitmaps and the per-texel grids; 0 or below gives none.
    object(int mapWidth, int mapHeight);
    object(const object&) = delete;
    object& operator=(const object&) = delete;
    virtual ~object() = default;

    void setBumpMap(std::unique_ptr<bitmap> map) { bumpMap = std::move(map); }
    void setColourMap(std::unique_ptr<bitmap> map) { colourMap = std::move(map); }

    // The uniform colour, else the bitmap's texel; else an error line and black.
    colour colourAt(const texture& t, int x, int y) const;

    // facing = 1 for each of polygons whose face normal points towards p (the plane counts as away).
    void markFacing(vector p);

    std::vector<vector> vertices;         // "v" records in file order
    std::vector<vector> normals;          // "vn" records in file order
    std::vector<vector> uvs;              // "vt" records: u in x, v in y, z = 0
    std::vector<polygon> polygons;        // one per "f" record, file texture coordinates
    std::vector<polygon> shadingPolygons; // copies with texture coordinates scaled into 0-1
    std::vector<edge> edges;
    std::string sourcePath; // the mesh file, named by the object's error lines
    bool generatedUvs = false; // texture coordinates laid out here, not read from the file

    int vertexCount = 0;
    int uvCount = 0;
    int normalCount = 0;
    int polygonCount = 0;
    int edgeCount = 0;
    int facesOutOfRange = 0; // face records naming a vertex, UV or normal index outside its list

    matrix transform; // model transform, multiplied onto the modelview matrix when drawn
    unsigned int meshList = 0;          // display list drawing polygons
    unsigned int colourTextureId = 0;   // texture made from colourMap
    unsigned int shadingList = 0;       // display list drawing shadingPolygons
    unsigned int lightmapTextureId = 0; // texture made from finalBitmap

    texture diffuseTexture;  // material channel 0
    texture ambientTexture;  // material channel 1
    texture specularTexture; // material channel 2

    grid<polygon*> alphaMap; // [x][y]: the shading polygon covering each texel, or none

    std::unique_ptr<bitmap> bumpMap;
    std::unique_ptr<bitmap> colourMap;
    std::unique_ptr<bitmap> diffuseBitmap;  // map kind 0
    std::unique_ptr<bitmap> ambientBitmap;  // map kind 1
    std::unique_ptr<bitmap> specularBitmap; // map kind 2
    std::unique_ptr<bitmap> finalBitmap;    // map kind 3

    double specularCoefficient = 100.0;
    double sharpEdgeThreshold = 0.707; // face normals with a dot product at or below it meet at a sharp edge
    double bumpCoefficient = 1.0;
    uint8_t pickable = 1; // takes part in the per-frame visibility test
    uint8_t visible = 1;  // rewritten by the visibility test every frame

    grid<vector> normalsMap;   // [y][x]: surface normal per texel
    grid<vector> positionsMap; // [y][x]: object-space surface point per texel
    std::unique_ptr<tracedTexels> traced; // none unless the scene was ray traced
};

// One "ERROR: " line about obj, naming its mesh file when it came from one.
void sayObjectError(const object& obj, const std::string& message);

// The most texels an object's maps may have. Every texel costs some 90 bytes of maps, all
// allocated and cleared before the mesh is read, so a size from a scene line is bounded here.
constexpr long long maxMapTexels = 4096LL * 4096;

// How many words of OBJ data are exactly "v", "vt", "vn" and "f": the loader's first pass,
// which sizes the lists. A face record becomes as many triangles as its corners make.
struct objRecordCounts {
    size_t vertices = 0;
    size_t uvs = 0;
    size_t normals = 0;
    size_t faces = 0;
};
objRecordCounts countObjRecords(const char* data, size_t size);

// Reads an OBJ mesh ("v", "vt", "vn", "f"), printing a report; none after an "ERROR: " line
// when the file cannot be read, the maps would exceed maxMapTexels or the mesh could not fit
// in memory. Faulty face indices are reported and leave defaults.
std::unique_ptr<object> loadObject(const std::string& path, int mapWidth, int mapHeight);
// The same from a file's bytes in memory; path is used in the report.
std::unique_ptr<object> parseObject(const char* data, size_t size, const std::string& path,
                                    int mapWidth, int mapHeight);
