#pragma once

class object;

// Lays out texture coordinates for a mesh that has none, for maps of mapWidth x mapHeight
// texels, and returns the number of charts (0 when there is nothing to lay out: no polygons
// or a map size of 0 or below; the object is then left as it was). Prints nothing.
//
// Faces that share an edge (two corners at identical positions) and whose normals lie within
// 60 degrees of the chart's first face form a chart, flattened onto its average plane; a face
// that would fold over or overlap the chart's other faces starts another chart. Charts are
// packed into 0-1 at one common world-to-texel scale, at least 2 texels (in u 2/mapWidth, in v
// 2/mapHeight) apart and from the border.
//
// Fills texCoord[0..2] of the first polygonCount polygons: u in x, v in y, z = 0, all in
// [0, 1], and every texture triangle counter-clockwise (positive area), so the winding check
// leaves it alone. Faces without a usable surface (zero area, non-finite or absurdly large
// positions, or a triangle that rounds flat once laid out) share one small triangle, in a slot
// of its own, that holds no texel centre or corner, so the rasteriser gives them no texel.
// uvs gets one entry per corner, followed by (0, 0) and (1, 1) so that the later stretch of
// the uvs list into 0-1 keeps the layout as it is; uvCount matches. The same polygons give
// the same bytes on every run.
int generateUvLayout(object& obj, int mapWidth, int mapHeight);

// Whether the mesh has polygons but not one texture triangle with an area: a file without
// "vt" records, or whose faces name none or only coinciding ones. Such a mesh would get no
// lightmap texel from its own coordinates.
bool needsUvLayout(const object& obj);
