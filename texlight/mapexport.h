#pragma once

#include <memory>
#include <string>

class bitmap;
class object;

// Writes one texture-space table of obj to a BMP file: the lighting bitmaps (kinds 0-3) as
// they are, the coverage (4) as white and black, normals (5) and positions (6) as colours.
// False (after one error line) when the kind is unknown or the file could not be written.
bool writeMap(object* obj, unsigned kind, const std::string& name);

// How far (in texels) the exported lightmaps reach past their charts: enough that bilinear
// filtering and the first three mip levels never read a texel no chart lit.
constexpr int lightmapReach = 8;

// A copy of map (the size of obj's lightmaps) in which every texel that no polygon covers, and
// that has a covered texel at most reach texels away along both axes, takes the value of the
// nearest of those: the smallest distance, then the lowest row, then the lowest column. Texels
// further from every chart keep their value. None when the sizes differ or memory is short.
std::unique_ptr<bitmap> dilateCharts(const object& obj, const bitmap& map, int reach = lightmapReach);

// The lightmap (the size of obj's) times obj's colour map, read where each covered texel lies in
// the file's texture coordinates, as the colour texture lies on the drawn mesh. A copy of the
// lightmap where obj has no colour map; none when the sizes differ or memory is short.
std::unique_ptr<bitmap> timesColourMap(const object& obj, const bitmap& lightmap);
