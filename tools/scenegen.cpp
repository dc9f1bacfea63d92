// Writes the bundled scenes: OBJ meshes, BMP bump maps and colour textures, and the two scene
// files, all made here from simple shapes and patterns.
//
// Each scene is a brick room with a tiled floor, a ball and a wooden crate.
//  - sphere_room.txt, for the fixed camera at (0, 0, -10) looking along +z: a 12 x 12 room open
//    towards the camera, with a back wall, two side walls and a ceiling. The light near
//    (0, 0, -2) throws the ball's and the crate's shadows onto the back wall, a side wall and
//    the floor. Ball and crate keep clear of the paths of lights circling the origin at radius 3.
//  - test2.txt, for the camera that orbits the origin at distance 10 and starts at (-10, 0, 0):
//    a 24 x 24 room closed all round, so that the eye stays inside whatever its azimuth, and
//    open above, where the orbit may climb. The light at (0, 5.721, 0), 2.8 below the wall tops,
//    throws the shadows of the ball and the crate onto the floor beside them.
//
// Usage: scenegen <folder>

#include "core/bitmap.h"
#include "core/console.h"
#include "core/vector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Meshes

struct corner {
    int position; // 0-based indices into the mesh's lists
    int uv;
    int normal;
};

struct mesh {
    std::vector<vector> positions;
    std::vector<vector> uvs; // u in x, v in y
    std::vector<vector> normals;
    std::vector<std::array<corner, 3>> faces;

    int addPosition(vector p) { positions.push_back(p); return int(positions.size()) - 1; }
    int addUv(double u, double v) { uvs.push_back(vector(u, v, 0)); return int(uvs.size()) - 1; }
    int addNormal(vector n) { normals.push_back(normalised(n)); return int(normals.size()) - 1; }
};

bool writeObj(const std::string& path, const mesh& m, const std::string& title)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        say("ERROR: Could not write '%s'!\n", path.c_str());
        return false;
    }
    std::fprintf(f, "# %s\n", title.c_str());
    std::fprintf(f, "# %zu vertices, %zu texture coordinates, %zu normals, %zu triangles\n",
                 m.positions.size(), m.uvs.size(), m.normals.size(), m.faces.size());
    for (const vector& p : m.positions)
        std::fprintf(f, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
    for (const vector& t : m.uvs)
        std::fprintf(f, "vt %.6f %.6f\n", t.x, t.y);
    for (const vector& n : m.normals)
        std::fprintf(f, "vn %.6f %.6f %.6f\n", n.x, n.y, n.z);
    for (const auto& face : m.faces) {
        std::fprintf(f, "f");
        for (const corner& c : face)
            std::fprintf(f, " %d/%d/%d", c.position + 1, c.uv + 1, c.normal + 1);
        std::fprintf(f, "\n");
    }
    bool ok = std::fclose(f) == 0;
    say("%-34s %6zu triangles\n", path.c_str(), m.faces.size());
    return ok;
}

// A flat rectangle from origin along u and v, cut into cellsU x cellsV squares so that
// per-vertex lighting has vertices to work with. Its front (counter-clockwise) side faces
// cross(u, v). Texture coordinates run from 0 to uvScale across it, in the same turning sense
// as the corners, so the one sheet fills the lightmap and a colour texture repeats uvScale times.
mesh sheet(vector origin, vector u, vector v, int cellsU, int cellsV, double uvScaleU,
           double uvScaleV)
{
    mesh m;
    int n = m.addNormal(cross(u, v));
    std::vector<int> index((cellsU + 1) * (cellsV + 1));
    for (int j = 0; j <= cellsV; ++j)
        for (int i = 0; i <= cellsU; ++i) {
            double s = double(i) / cellsU, t = double(j) / cellsV;
            index[j * (cellsU + 1) + i] = m.addPosition(origin + u * s + v * t);
            m.addUv(s * uvScaleU, t * uvScaleV);
        }
    auto at = [&](int i, int j) {
        int k = index[j * (cellsU + 1) + i];
        return corner{k, k, n};
    };
    for (int j = 0; j < cellsV; ++j)
        for (int i = 0; i < cellsU; ++i) {
            m.faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            m.faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    return m;
}

// A ball with smooth normals. Texture coordinates: u from the south pole (0) to the north pole
// (1), v once round the y axis; each pole triangle has its own pole coordinate, so no two
// triangles share texture area. Positions are shared (the seam and the poles too), so the edge
// list sees a closed surface.
//
// The lightmap's texels are interpolated along rows of constant v, which degenerates where a
// row meets a triangle exactly at a corner whose v no other corner shares. Hence the poles run
// along u rather than v, an odd number of segments keeps the seam-free corner columns j / segments
// off every texel row of a power-of-two map, and the pole corners sit at (j + 0.4) / segments
// rather than at the middle, which lies on a texel row for the middle segment. The corner with
// the v of its own is the second one of a triangle; for the pole triangles that is the pole.
mesh ball(vector centre, double radius, int rings, int segments)
{
    mesh m;
    // theta from the south pole (u), phi round the y axis (v); v grows towards +z at phi = 0,
    // which makes (du x dv) point outwards.
    auto direction = [&](int k, int j) {
        double theta = pi * k / rings;
        double phi = 2.0 * pi * (j % segments) / segments;
        return vector(std::sin(theta) * std::cos(phi), -std::cos(theta),
                      std::sin(theta) * std::sin(phi));
    };
    std::vector<int> ringStart(rings + 1);
    int south = m.addPosition(centre + vector(0, -radius, 0));
    m.addNormal(vector(0, -1, 0));
    for (int k = 1; k < rings; ++k) {
        ringStart[k] = int(m.positions.size());
        for (int j = 0; j < segments; ++j) {
            vector d = direction(k, j);
            m.addPosition(centre + d * radius);
            m.addNormal(d);
        }
    }
    int north = m.addPosition(centre + vector(0, radius, 0));
    m.addNormal(vector(0, 1, 0));

    auto at = [&](int k, int j) -> corner {
        int p = ringStart[k] + j % segments;
        return corner{p, m.addUv(double(k) / rings, double(j) / segments), p};
    };
    auto pole = [&](int k, int j) -> corner {
        int p = k == 0 ? south : north;
        return corner{p, m.addUv(double(k) / rings, (j + 0.4) / segments), p};
    };
    for (int k = 0; k < rings; ++k)
        for (int j = 0; j < segments; ++j) {
            // The cell from (k, j) to (k + 1, j + 1) in (u, v), split along its diagonal.
            if (k == 0) {
                m.faces.push_back({at(1, j + 1), pole(0, j), at(1, j)});
            } else if (k == rings - 1) {
                m.faces.push_back({at(k, j), pole(rings, j), at(k, j + 1)});
            } else {
                corner a = at(k, j), b = at(k + 1, j), c = at(k + 1, j + 1), d = at(k, j + 1);
                m.faces.push_back({a, b, c});
                m.faces.push_back({a, c, d});
            }
        }
    return m;
}

// Where one face of a box sits in the box's texture atlas of 3 x 2 cells. The gaps keep the
// faces' texels apart in the lightmap; the cells touch the atlas border so that the
// coordinates already span 0-1 and the lightmap and the textures line up.
struct atlasCell {
    double u0, v0, w, h;
};

atlasCell boxCell(int face, double gap)
{
    double w = (1.0 - 2.0 * gap) / 3.0;
    double h = (1.0 - gap) / 2.0;
    int col = face % 3, row = face / 3;
    return {col * (w + gap), row * (h + gap), w, h};
}

// Texture-atlas gap of the crate, two and a half texels of its 128-texel lightmap: a whole
// number of texels would put cell edges on texel rows, where their texels come out black.
const double crateGap = 2.5 / 128.0;

struct boxFace {
    int axis, side;             // the face lies at the min (0) or max (1) end of this axis
    int uAxis, uSign, vAxis, vSign; // texture directions along the box's axes
};

// The six faces, each seen from outside with v upwards where that makes sense and
// cross(u, v) pointing out of the box.
const boxFace boxFaces[6] = {
    {0, 1, 2, -1, 1, +1}, // +x: u along -z
    {2, 1, 0, +1, 1, +1}, // +z: u along +x
    {0, 0, 2, +1, 1, +1}, // -x: u along +z
    {2, 0, 0, -1, 1, +1}, // -z: u along -x
    {1, 1, 0, +1, 2, -1}, // +y: u along +x, v along -z
    {1, 0, 0, +1, 2, +1}, // -y: u along +x, v along +z
};

// An axis-aligned box with flat faces, each cut into cells x cells squares. All faces take
// their corners from one lattice, so shared edges have identical positions.
mesh box(vector low, vector high, int cells)
{
    mesh m;
    std::map<std::tuple<int, int, int>, int> lattice;
    auto latticePoint = [&](int i[3]) {
        auto key = std::make_tuple(i[0], i[1], i[2]);
        auto found = lattice.find(key);
        if (found != lattice.end())
            return found->second;
        double lo[3] = {low.x, low.y, low.z}, hi[3] = {high.x, high.y, high.z};
        double c[3];
        for (int a = 0; a < 3; ++a)
            c[a] = lo[a] + (hi[a] - lo[a]) * i[a] / cells;
        int p = m.addPosition(vector(c[0], c[1], c[2]));
        lattice[key] = p;
        return p;
    };
    for (int f = 0; f < 6; ++f) {
        const boxFace& face = boxFaces[f];
        double nd[3] = {0, 0, 0};
        nd[face.axis] = face.side ? 1 : -1;
        int n = m.addNormal(vector(nd[0], nd[1], nd[2]));
        atlasCell cell = boxCell(f, crateGap);
        auto at = [&](int a, int b) {
            int i[3];
            i[face.axis] = face.side ? cells : 0;
            i[face.uAxis] = face.uSign > 0 ? a : cells - a;
            i[face.vAxis] = face.vSign > 0 ? b : cells - b;
            int uv = m.addUv(cell.u0 + cell.w * a / cells, cell.v0 + cell.h * b / cells);
            return corner{latticePoint(i), uv, n};
        };
        for (int b = 0; b < cells; ++b)
            for (int a = 0; a < cells; ++a) {
                m.faces.push_back({at(a, b), at(a + 1, b), at(a + 1, b + 1)});
                m.faces.push_back({at(a, b), at(a + 1, b + 1), at(a, b + 1)});
            }
    }
    return m;
}

// Every triangle must face outwards (its corner order counter-clockwise seen from outside) with
// counter-clockwise texture corners; a generator mistake stops the run.
bool checkWinding(const mesh& m, const std::function<vector(vector)>& outwardAt,
                  const std::string& name)
{
    for (size_t i = 0; i < m.faces.size(); ++i) {
        const auto& f = m.faces[i];
        vector p0 = m.positions[f[0].position], p1 = m.positions[f[1].position],
               p2 = m.positions[f[2].position];
        vector n = cross(p1 - p0, p2 - p0);
        vector t0 = m.uvs[f[0].uv], t1 = m.uvs[f[1].uv], t2 = m.uvs[f[2].uv];
        double uvArea = (t1.x - t0.x) * (t2.y - t0.y) - (t1.y - t0.y) * (t2.x - t0.x);
        vector centre = (p0 + p1 + p2) / 3.0;
        if (dot(n, outwardAt(centre)) <= 0 || uvArea <= 0) {
            say("ERROR: Triangle %zu of %s is turned the wrong way!\n", i, name.c_str());
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Images

// A fixed pseudo-random value in 0-1 for an integer pair: the same files on every run.
double noise(int a, int b, int seed)
{
    uint32_t h = uint32_t(a) * 73856093u ^ uint32_t(b) * 19349663u ^ uint32_t(seed) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

int16_t channel(double v) { return int16_t(std::clamp(v, 0.0, 255.0)); }

colour rgb(double r, double g, double b) { return colour(channel(r), channel(g), channel(b), 255); }

// Brick courses in stretcher bond over a whole wall, every other course shifted by half a
// brick. Bricks are 1 x 0.5 wall units; a joint is the same width whichever way it runs.
struct brickWall {
    double width, height; // wall units
    int columns() const { return int(std::lround(width / 1.0)); }
    int rows() const { return int(std::lround(height / 0.5)); }
};

const double mortar = 0.035; // half width of a mortar joint, in wall units
const double bevel = 0.06;   // width of a brick's rounded edge

struct brickSample {
    double edge; // distance from the middle of the nearest joint, in wall units
    int column, row;
};

brickSample brickAt(const brickWall& wall, double s, double t)
{
    const int columns = wall.columns(), rows = wall.rows();
    double y = t * rows;
    int row = int(std::floor(y));
    double x = s * columns + ((row & 1) ? 0.5 : 0.0);
    int column = int(std::floor(x));
    double fx = x - column, fy = y - row;
    double ex = std::min(fx, 1.0 - fx) * (wall.width / columns);
    double ey = std::min(fy, 1.0 - fy) * (wall.height / rows);
    return {std::min(ex, ey), column, row};
}

std::unique_ptr<bitmap> bricksBump(const brickWall& wall, int width, int height)
{
    auto b = std::make_unique<bitmap>(width, height, 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            brickSample k = brickAt(wall, (x + 0.5) / width, (y + 0.5) / height);
            // Mortar lies deep; the brick faces rise over a short bevel, with a little roughness.
            double h = k.edge < mortar ? 40.0
                                       : 40.0 + 200.0 * std::min(1.0, (k.edge - mortar) / bevel);
            h -= 25.0 * noise(x / 3, y / 3, 7);
            int16_t g = channel(h);
            b->setPixel(x, y, colour(g, g, g, 255));
        }
    return b;
}

std::unique_ptr<bitmap> bricksColour(const brickWall& wall, int width, int height)
{
    auto b = std::make_unique<bitmap>(width, height, 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            brickSample k = brickAt(wall, (x + 0.5) / width, (y + 0.5) / height);
            if (k.edge < mortar) {
                double m = 200 + 20 * noise(x, y, 3);
                b->setPixel(x, y, rgb(m, m - 8, m - 20));
                continue;
            }
            double tone = 0.8 + 0.35 * noise(k.column, k.row, 1);
            double grain = 0.9 + 0.15 * noise(x / 2, y / 2, 5);
            b->setPixel(x, y, rgb(178 * tone * grain, 84 * tone * grain, 58 * tone * grain));
        }
    return b;
}

// Floor tiles: 2 x 2 tiles per image, repeated over the floor, with grout between them.
std::unique_ptr<bitmap> tilesColour(int size)
{
    auto b = std::make_unique<bitmap>(size, size, 3);
    const int tile = size / 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int tx = x / tile, ty = y / tile;
            int lx = x % tile, ly = y % tile;
            int edge = std::min(std::min(lx, tile - 1 - lx), std::min(ly, tile - 1 - ly));
            double speck = 0.92 + 0.1 * noise(x, y, 11);
            if (edge < 2)
                b->setPixel(x, y, rgb(120 * speck, 116 * speck, 110 * speck));
            else if ((tx + ty) % 2 == 0)
                b->setPixel(x, y, rgb(232 * speck, 222 * speck, 196 * speck));
            else
                b->setPixel(x, y, rgb(92 * speck, 110 * speck, 128 * speck));
        }
    return b;
}

// The crate's atlas: on every face a frame round the border and horizontal boards inside,
// with grooves between them. Returns the board's shade, or -1 in a groove, and the groove depth
// profile for the bump map through depth.
double crateAt(double u, double v, int& boardIndex, double& depth)
{
    boardIndex = -1;
    depth = 0.0;
    for (int f = 0; f < 6; ++f) {
        atlasCell c = boxCell(f, crateGap);
        // Texels of the gaps belong to the nearest cell, so that the seams look like the faces.
        double margin = crateGap;
        if (u < c.u0 - margin || u > c.u0 + c.w + margin || v < c.v0 - margin ||
            v > c.v0 + c.h + margin)
            continue;
        double s = std::clamp((u - c.u0) / c.w, 0.0, 1.0);
        double t = std::clamp((v - c.v0) / c.h, 0.0, 1.0);
        const double frame = 0.13, groove = 0.018;
        double border = std::min(std::min(s, 1.0 - s), std::min(t, 1.0 - t));
        if (border < frame) {
            boardIndex = 100 + f;
            depth = border < groove ? 0.0 : 1.0; // the crate's outer corners
            double inner = frame - border;
            if (inner < groove)
                depth = 0.0; // the groove between the frame and the boards
            return 1.1;
        }
        double board = (t - frame) / (1.0 - 2.0 * frame) * 4.0;
        int k = std::min(3, int(board));
        double within = board - k;
        boardIndex = f * 4 + k;
        depth = (within < 0.06 || within > 0.94) ? 0.0 : 0.8;
        return 0.85 + 0.25 * noise(f, k, 21);
    }
    return 1.0;
}

std::unique_ptr<bitmap> crateColour(int size)
{
    auto b = std::make_unique<bitmap>(size, size, 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int board;
            double depth;
            double shade = crateAt((x + 0.5) / size, (y + 0.5) / size, board, depth);
            // Grain runs along the boards.
            double grain = 0.85 + 0.2 * noise(board, y / 2, 17) + 0.05 * noise(x / 8, y, 19);
            double dark = depth == 0.0 ? 0.55 : 1.0;
            double k = shade * grain * dark;
            b->setPixel(x, y, rgb(196 * k, 142 * k, 82 * k));
        }
    return b;
}

std::unique_ptr<bitmap> crateBump(int size)
{
    auto b = std::make_unique<bitmap>(size, size, 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int board;
            double depth;
            crateAt((x + 0.5) / size, (y + 0.5) / size, board, depth);
            int16_t g = channel(30 + 200 * depth);
            b->setPixel(x, y, colour(g, g, g, 255));
        }
    return b;
}

bool writeImage(const std::string& path, const std::unique_ptr<bitmap>& b)
{
    bool ok = writeBmp(path, b.get());
    say("%-34s %4d x %d\n", path.c_str(), b->width, b->height);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Scenes

struct material {
    int ambient[3], diffuse[3], specular[3];
    double shininess;
};

struct sceneEntry {
    std::string obj;
    material mat;
    std::string bump;
    int mapWidth, mapHeight;
    std::string colourMap;
};

bool writeScene(const std::string& path, const std::vector<sceneEntry>& entries)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        say("ERROR: Could not write '%s'!\n", path.c_str());
        return false;
    }
    for (const sceneEntry& e : entries) {
        const material& m = e.mat;
        std::fprintf(f, "%s %d %d %d %d %d %d %d %d %d %g %s 1 %d %d %s\n", e.obj.c_str(),
                     m.ambient[0], m.ambient[1], m.ambient[2], m.diffuse[0], m.diffuse[1],
                     m.diffuse[2], m.specular[0], m.specular[1], m.specular[2], m.shininess,
                     e.bump.c_str(), e.mapWidth, e.mapHeight, e.colourMap.c_str());
    }
    bool ok = std::fclose(f) == 0;
    say("%-34s %6zu objects\n", path.c_str(), entries.size());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        say("Usage: %s <folder>\n", argc > 0 ? argv[0] : "scenegen");
        return 2;
    }
    namespace fs = std::filesystem;
    const std::string root = argv[1];
    std::error_code error;
    fs::create_directories(fs::path(root) / "meshes", error);
    fs::create_directories(fs::path(root) / "textures", error);
    if (error) {
        say("ERROR: Could not create the folders in '%s'!\n", root.c_str());
        return 1;
    }
    auto at = [&](const std::string& name) { return (fs::path(root) / name).string(); };
    bool ok = true;

    // Sheets are cut into an odd number of cells each way, so that no inner vertex lies on a
    // texel row of a power-of-two lightmap (where its texels would come out black).
    struct namedSheet {
        std::string name;
        mesh m;
        vector inward;
    };
    std::vector<namedSheet> sheets;
    // A room of floor, walls and ceiling as sheets facing inwards; walls are seen from inside
    // with u to the right and v up, so that the bricks stand upright.
    auto room = [&](const std::string& prefix, double half, double floorY, double topY,
                    int floorCells, int wallCellsU, int wallCellsV, double tileRepeat,
                    std::vector<std::string> parts) {
        const vector up(0, topY - floorY, 0);
        for (const std::string& part : parts) {
            std::string name = "meshes/" + prefix + part + ".obj";
            if (part == "floor")
                sheets.push_back({name,
                                  sheet(vector(-half, floorY, half), vector(2 * half, 0, 0),
                                        vector(0, 0, -2 * half), floorCells, floorCells,
                                        tileRepeat, tileRepeat),
                                  vector(0, 1, 0)});
            else if (part == "ceiling")
                sheets.push_back({name,
                                  sheet(vector(-half, topY, -half), vector(2 * half, 0, 0),
                                        vector(0, 0, 2 * half), 5, 5, 1, 1),
                                  vector(0, -1, 0)});
            else if (part == "wall_pz")
                sheets.push_back({name,
                                  sheet(vector(half, floorY, half), vector(-2 * half, 0, 0), up,
                                        wallCellsU, wallCellsV, 1, 1),
                                  vector(0, 0, -1)});
            else if (part == "wall_nz")
                sheets.push_back({name,
                                  sheet(vector(-half, floorY, -half), vector(2 * half, 0, 0), up,
                                        wallCellsU, wallCellsV, 1, 1),
                                  vector(0, 0, 1)});
            else if (part == "wall_px")
                sheets.push_back({name,
                                  sheet(vector(half, floorY, -half), vector(0, 0, 2 * half), up,
                                        wallCellsU, wallCellsV, 1, 1),
                                  vector(-1, 0, 0)});
            else if (part == "wall_nx")
                sheets.push_back({name,
                                  sheet(vector(-half, floorY, half), vector(0, 0, -2 * half), up,
                                        wallCellsU, wallCellsV, 1, 1),
                                  vector(1, 0, 0)});
        }
    };
    const double floorY = -3.5;
    // The fixed camera's room: 12 x 12, walls 10 high, open towards -z where the camera is.
    // The floor's 2 x 2-tile texture repeats 6 times: tiles of one unit.
    room("sphere_room_", 6.0, floorY, 6.5, 13, 11, 9, 6,
         {"floor", "wall_pz", "wall_px", "wall_nx", "ceiling"});
    // The orbiting camera's room: 24 x 24 with walls 12 high, closed all round and open above,
    // so that the eye, 10 from the centre, stays inside at every azimuth.
    room("test2_", 12.0, floorY, 8.5, 25, 23, 11, 12,
         {"floor", "wall_pz", "wall_nz", "wall_px", "wall_nx"});
    for (const namedSheet& s : sheets) {
        vector inward = s.inward;
        ok = checkWinding(s.m, [inward](vector) { return inward; }, s.name) && ok;
        ok = writeObj(at(s.name), s.m, "room surface") && ok;
    }

    // A ball and a crate in each room. In the fixed camera's room they keep clear of the three
    // radius-3 circles that circling lights follow about the origin: the ball lies inside the
    // radius-3 sphere, the crate lies below, beside and behind the circles.
    const double ballRadius = 1.3;
    struct solid {
        std::string name;
        mesh m;
        vector centre;
    };
    auto crate = [&](const std::string& name, vector low, vector high) {
        return solid{name, box(low, high, 4), (low + high) / 2.0};
    };
    std::vector<solid> solids = {
        {"meshes/sphere_room_ball.obj", ball(vector(0, -0.6, 1.2), ballRadius, 16, 33),
         vector(0, -0.6, 1.2)},
        crate("meshes/sphere_room_crate.obj", vector(1.6, floorY, 0.4), vector(3.6, -0.9, 2.4)),
        // Beside each other as the orbit starts, ball right, crate left; the crate stands on the
        // far side of the light so that the face towards the starting eye is lit.
        {"meshes/test2_ball.obj", ball(vector(0.3, -0.6, 1.3), ballRadius, 16, 33),
         vector(0.3, -0.6, 1.3)},
        crate("meshes/test2_crate.obj", vector(0.7, floorY, -3.6), vector(2.7, -0.9, -1.6)),
    };
    for (const solid& s : solids) {
        vector c = s.centre;
        // For a ball the outward direction is from the centre; for a box the centre-to-face
        // direction has a positive dot product with the face normal as well.
        ok = checkWinding(s.m, [c](vector p) { return p - c; }, s.name) && ok;
        ok = writeObj(at(s.name), s.m, "solid") && ok;
    }

    // A bump map is read one texel beside each lightmap texel, also before the first row and
    // column; being narrower and lower than the lightmap keeps those reads inside the image.
    const brickWall smallWall{12, 10}, largeWall{24, 12};
    ok = writeImage(at("textures/bricks_bump.bmp"), bricksBump(smallWall, 255, 255)) && ok;
    ok = writeImage(at("textures/bricks_colour.bmp"), bricksColour(smallWall, 512, 512)) && ok;
    ok = writeImage(at("textures/large_bricks_bump.bmp"), bricksBump(largeWall, 511, 255)) && ok;
    ok = writeImage(at("textures/large_bricks_colour.bmp"), bricksColour(largeWall, 512, 256)) &&
         ok;
    ok = writeImage(at("textures/tiles_colour.bmp"), tilesColour(128)) && ok;
    ok = writeImage(at("textures/crate_colour.bmp"), crateColour(256)) && ok;
    ok = writeImage(at("textures/crate_bump.bmp"), crateBump(127)) && ok;

    const material floorMat{{90, 88, 80}, {210, 200, 180}, {120, 120, 120}, 20};
    const material wallMat{{100, 80, 70}, {220, 185, 160}, {60, 60, 60}, 8};
    const material ceilingMat{{90, 90, 95}, {190, 190, 200}, {30, 30, 30}, 5};
    const material ballMat{{70, 100, 190}, {70, 120, 230}, {255, 255, 255}, 40};
    const material crateMat{{110, 85, 55}, {215, 165, 105}, {90, 80, 70}, 12};
    const std::string tiles = "textures/tiles_colour.bmp";
    const std::string bricksBumpPath = "textures/bricks_bump.bmp";
    const std::string bricksColourPath = "textures/bricks_colour.bmp";
    const std::string largeBumpPath = "textures/large_bricks_bump.bmp";
    const std::string largeColourPath = "textures/large_bricks_colour.bmp";
    const std::string crateBumpPath = "textures/crate_bump.bmp";
    const std::string crateColourPath = "textures/crate_colour.bmp";

    ok = writeScene(at("sphere_room.txt"),
                    {
                        {"meshes/sphere_room_floor.obj", floorMat, "NULL", 256, 256, tiles},
                        {"meshes/sphere_room_wall_pz.obj", wallMat, bricksBumpPath, 256, 256,
                         bricksColourPath},
                        {"meshes/sphere_room_wall_px.obj", wallMat, bricksBumpPath, 256, 256,
                         bricksColourPath},
                        {"meshes/sphere_room_wall_nx.obj", wallMat, bricksBumpPath, 256, 256,
                         bricksColourPath},
                        {"meshes/sphere_room_ceiling.obj", ceilingMat, "NULL", 64, 64, "NULL"},
                        {"meshes/sphere_room_ball.obj", ballMat, "NULL", 128, 256, "NULL"},
                        {"meshes/sphere_room_crate.obj", crateMat, crateBumpPath, 128, 128,
                         crateColourPath},
                    }) &&
         ok;
    ok = writeScene(at("test2.txt"),
                    {
                        {"meshes/test2_floor.obj", floorMat, "NULL", 512, 512, tiles},
                        {"meshes/test2_wall_px.obj", wallMat, largeBumpPath, 512, 256,
                         largeColourPath},
                        {"meshes/test2_wall_pz.obj", wallMat, largeBumpPath, 512, 256,
                         largeColourPath},
                        {"meshes/test2_wall_nx.obj", wallMat, largeBumpPath, 512, 256,
                         largeColourPath},
                        {"meshes/test2_wall_nz.obj", wallMat, largeBumpPath, 512, 256,
                         largeColourPath},
                        {"meshes/test2_ball.obj", ballMat, "NULL", 128, 256, "NULL"},
                        {"meshes/test2_crate.obj", crateMat, crateBumpPath, 128, 128,
                         crateColourPath},
                    }) &&
         ok;
    return ok ? 0 : 1;
}
