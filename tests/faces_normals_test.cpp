// Faces of any corner count and corner normals for files without them, through the loader.
#include "core/console.h"
#include "mesh/normals.h"
#include "mesh/object.h"

#include "tests/reference/normals_reference.h"
#include "tests/testdata.h"
#include "tests/testmeshes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <tuple>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::unique_ptr<object> load(const std::string& text, std::string* said = nullptr)
{
    consoleCapture console;
    std::unique_ptr<object> obj = parseObject(text.data(), text.size(), "gen.obj", 0, 0);
    if (said)
        *said = console.text();
    return obj;
}

struct point2 {
    double x, y;
};

// A face outline in its own plane, put into space by a fixed tilt and offset so that no axis
// plane makes it easy. The outline is also written as the corners' texture coordinates,
// which lets a test map every triangle corner back to its outline point.
vector place(point2 p) { return vector(0.8 * p.x + 3, 0.6 * p.x + 0.28 * p.y - 2, -0.96 * p.y + 5); }

std::string faceFile(const std::vector<std::vector<point2>>& faces)
{
    std::ostringstream out;
    out.precision(17);
    int base = 1;
    for (const auto& face : faces) {
        for (point2 p : face) {
            vector q = place(p);
            out << "v " << q.x << " " << q.y << " " << q.z << "\nvt " << p.x << " " << p.y << "\n";
        }
        out << "f";
        for (size_t k = 0; k < face.size(); ++k)
            out << " " << base + static_cast<int>(k) << "/" << base + static_cast<int>(k);
        out << "\n";
        base += static_cast<int>(face.size());
    }
    return out.str();
}

double signedArea(const std::vector<point2>& outline)
{
    double twice = 0;
    for (size_t k = 0; k < outline.size(); ++k) {
        point2 a = outline[k], b = outline[(k + 1) % outline.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return twice / 2;
}

bool inside(const std::vector<point2>& outline, point2 q)
{
    bool in = false;
    for (size_t k = 0, j = outline.size() - 1; k < outline.size(); j = k++) {
        point2 a = outline[k], b = outline[j];
        if ((a.y > q.y) != (b.y > q.y) && q.x < (b.x - a.x) * (q.y - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

struct faceCase {
    const char* name;
    std::vector<point2> outline;
    bool fan; // convex: expect the fan from the first corner, in order
};

class FaceSplitting : public ::testing::TestWithParam<faceCase> {};

TEST_P(FaceSplitting, TrianglesTileTheFaceAndStayInsideIt)
{
    const faceCase& c = GetParam();
    std::string said;
    std::unique_ptr<object> obj = load(faceFile({c.outline}), &said);
    ASSERT_NE(obj, nullptr);
    const size_t n = c.outline.size();
    ASSERT_EQ(obj->polygons.size(), n - 2);
    EXPECT_NE(said.find("POLYGONS: " + std::to_string(n - 2) + "\n"), std::string::npos) << said;

    const double area = signedArea(c.outline);
    double covered = 0;
    for (size_t t = 0; t < obj->polygons.size(); ++t) {
        const polygon& p = obj->polygons[t];
        point2 corner[3];
        for (int k = 0; k < 3; ++k) {
            corner[k] = {p.texCoord[k].x, p.texCoord[k].y};
            EXPECT_EQ(p.position[k], place(corner[k])) << "corner " << k << " lost its own texture coordinate";
            if (c.fan) {
                size_t want = k == 0 ? 0 : t + static_cast<size_t>(k);
                EXPECT_EQ(p.texCoord[k].x, c.outline[want].x) << "triangle " << t << " corner " << k;
                EXPECT_EQ(p.texCoord[k].y, c.outline[want].y) << "triangle " << t << " corner " << k;
            }
        }
        double twice = (corner[1].x - corner[0].x) * (corner[2].y - corner[0].y) -
                       (corner[1].y - corner[0].y) * (corner[2].x - corner[0].x);
        EXPECT_GT(twice * area, 0.0) << "triangle " << t << " winds against its face or has no area";
        covered += twice / 2;
        point2 centre = {(corner[0].x + corner[1].x + corner[2].x) / 3, (corner[0].y + corner[1].y + corner[2].y) / 3};
        EXPECT_TRUE(inside(c.outline, centre)) << "triangle " << t << " lies outside the face";
    }
    EXPECT_NEAR(covered, area, 1e-12 * std::fabs(area));
}

INSTANTIATE_TEST_SUITE_P(
    Outlines, FaceSplitting,
    ::testing::Values(
        faceCase{"Quad", {{0, 0}, {2, 0}, {2, 1}, {0, 1}}, true},
        faceCase{"RegularPentagon",
                 {{1, 0}, {0.309, 0.951}, {-0.809, 0.588}, {-0.809, -0.588}, {0.309, -0.951}},
                 true},
        faceCase{"ClockwiseHexagon", {{0, 0}, {0, 2}, {1, 3}, {2, 2}, {2, 0}, {1, -1}}, true},
        // The first corner sees past the notch: a fan from it would leave the face.
        faceCase{"DartFromAConvexCorner", {{0, 0}, {2, 1}, {4, 0}, {2, 3}}, false},
        faceCase{"LShape", {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}, false},
        faceCase{"ClockwiseComb", {{0, 0}, {0, 3}, {1, 3}, {1, 1}, {2, 1}, {2, 3}, {3, 3}, {3, 1}, {4, 1}, {4, 3}, {5, 3}, {5, 0}}, false},
        // Three corners in a row on the bottom edge.
        faceCase{"StraightCorner", {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {1, 0.5}, {0, 2}}, false}),
    [](const ::testing::TestParamInfo<faceCase>& info) { return std::string(info.param.name); });

TEST(FaceSplitting, MixedCornerCountsKeepTheFileOrder)
{
    const std::vector<point2> tri = {{0, 0}, {1, 0}, {0, 1}};
    const std::vector<point2> quad = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const std::vector<point2> five = {{0, 0}, {2, 0}, {2, 2}, {1, 1}, {0, 2}};
    std::string said;
    std::unique_ptr<object> obj = load(faceFile({quad, tri, five, tri}), &said);
    ASSERT_NE(obj, nullptr);
    ASSERT_EQ(obj->polygonCount, 2 + 1 + 3 + 1);
    ASSERT_EQ(obj->polygons.size(), 7u);
    // Each face's triangles use its own corners only.
    const int firstVertex[7] = {0, 0, 4, 7, 7, 7, 12};
    const int lastVertex[7] = {3, 3, 6, 11, 11, 11, 14};
    for (size_t t = 0; t < 7; ++t)
        for (int k = 0; k < 3; ++k) {
            bool found = false;
            for (int v = firstVertex[t]; v <= lastVertex[t]; ++v)
                found = found || obj->polygons[t].position[k] == obj->vertices[static_cast<size_t>(v)];
            EXPECT_TRUE(found) << "triangle " << t << " corner " << k;
        }
}

// --- Corner normals --------------------------------------------------------------------------

// Every corner's normal (x, y, z and w), bit for bit.
bool sameBits(const vector& a, const vector& b)
{
    const double ours[4] = {a.x, a.y, a.z, a.w}, theirs[4] = {b.x, b.y, b.z, b.w};
    return std::memcmp(ours, theirs, sizeof ours) == 0;
}

std::string cubeFile(bool withNormals)
{
    std::string s = "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
                    "vt 0 0\n";
    if (withNormals)
        s += "vn 0.5 0.5 0.5\n";
    const char* faces[6] = {"1 4 3 2", "5 6 7 8", "1 2 6 5", "2 3 7 6", "3 4 8 7", "4 1 5 8"};
    for (const char* f : faces) {
        std::istringstream in(f);
        s += "f";
        for (int v; in >> v;)
            s += " " + std::to_string(v) + (withNormals ? "/1/1" : "/1");
        s += "\n";
    }
    return s;
}

TEST(CornerNormals, CubeEdgesStayHardAndNormalsInTheFileAreKept)
{
    std::string said;
    std::unique_ptr<object> bare = load(cubeFile(false), &said);
    ASSERT_NE(bare, nullptr);
    ASSERT_EQ(bare->polygons.size(), 12u);
    EXPECT_NE(said.find("NORMALS COMPUTED: 36 corners without a normal in the file\n"), std::string::npos) << said;
    for (const polygon& p : bare->polygons) {
        ASSERT_NE(p.faceNormal, vector());
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(p.normal[k].x, p.faceNormal.x, 1e-15);
            EXPECT_NEAR(p.normal[k].y, p.faceNormal.y, 1e-15);
            EXPECT_NEAR(p.normal[k].z, p.faceNormal.z, 1e-15);
        }
    }

    std::unique_ptr<object> given = load(cubeFile(true), &said);
    ASSERT_NE(given, nullptr);
    EXPECT_EQ(said.find("NORMALS COMPUTED"), std::string::npos);
    for (const polygon& p : given->polygons)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(p.normal[k], vector(0.5, 0.5, 0.5));
}

// Faces of a fold meeting at a chosen angle: shared across it below 45 degrees, kept apart
// above, whatever the order of the faces.
TEST(CornerNormals, FoldsBelowTheSharpAngleAreSmoothedAndAboveItKept)
{
    for (double degrees : {10.0, 40.0, 50.0, 90.0}) {
        const double a = degrees * M_PI / 180;
        std::ostringstream file;
        file.precision(17);
        file << "v 0 0 0\nv 0 1 0\nv -1 0 0\nv " << std::cos(a) << " 0 " << std::sin(a) << "\n"
             << "f 1 2 3\nf 2 1 4\n";
        std::unique_ptr<object> obj = load(file.str());
        ASSERT_NE(obj, nullptr);
        const vector n0 = obj->polygons[0].faceNormal, n1 = obj->polygons[1].faceNormal;
        const vector shared = obj->polygons[0].normal[0];
        if (degrees < 45) {
            // Equal corner angles on both sides: the bisector of the two face normals.
            vector half = n0 + n1;
            normalise(half);
            EXPECT_NEAR(dot(shared, half), 1.0, 1e-12) << degrees;
            EXPECT_NEAR(dot(obj->polygons[1].normal[1], half), 1.0, 1e-12) << degrees;
        } else {
            EXPECT_NEAR(dot(shared, n0), 1.0, 1e-12) << degrees;
            EXPECT_NEAR(dot(obj->polygons[1].normal[1], n1), 1.0, 1e-12) << degrees;
        }
        // The corners off the fold have one face each.
        EXPECT_NEAR(dot(obj->polygons[0].normal[2], n0), 1.0, 1e-12) << degrees;
    }
}

// A latitude-longitude sphere written as quads (triangles at the poles): the computed
// normals follow the analytic ones closely, and better as the sphere gets finer.
double worstSphereError(int segments, int stacks, vector centre, double radius)
{
    std::ostringstream file;
    file.precision(17);
    auto index = [&](int i, int j) { return 2 + (i - 1) * segments + (j % segments); };
    file << "v " << centre.x << " " << centre.y << " " << centre.z + radius << "\n";
    for (int i = 1; i < stacks; ++i)
        for (int j = 0; j < segments; ++j) {
            double t = M_PI * i / stacks, f = 2 * M_PI * j / segments;
            file << "v " << centre.x + radius * std::sin(t) * std::cos(f) << " "
                 << centre.y + radius * std::sin(t) * std::sin(f) << " " << centre.z + radius * std::cos(t) << "\n";
        }
    const int south = 2 + (stacks - 1) * segments;
    file << "v " << centre.x << " " << centre.y << " " << centre.z - radius << "\n";
    for (int j = 0; j < segments; ++j) {
        file << "f 1 " << index(1, j) << " " << index(1, j + 1) << "\n";
        for (int i = 1; i + 1 < stacks; ++i)
            file << "f " << index(i, j) << " " << index(i + 1, j) << " " << index(i + 1, j + 1) << " "
                 << index(i, j + 1) << "\n";
        file << "f " << south << " " << index(stacks - 1, j + 1) << " " << index(stacks - 1, j) << "\n";
    }
    std::unique_ptr<object> obj = load(file.str());
    if (!obj)
        return 1e9;
    double worst = 0;
    for (const polygon& p : obj->polygons)
        for (int k = 0; k < 3; ++k) {
            vector analytic = (p.position[k] - centre) * (1 / radius);
            worst = std::max(worst, std::acos(std::min(1.0, dot(p.normal[k], analytic))));
        }
    return worst * 180 / M_PI;
}

TEST(CornerNormals, SphereNormalsFollowTheAnalyticOnes)
{
    const double coarse = worstSphereError(16, 8, vector(0, 0, 0), 1);
    const double fine = worstSphereError(64, 32, vector(0, 0, 0), 1);
    EXPECT_LT(coarse, 6.0);
    EXPECT_LT(fine, 1.5);
    EXPECT_LT(fine, coarse / 3);
    // Far from the origin and large, the same shape gives the same angles.
    EXPECT_LT(worstSphereError(64, 32, vector(5000, -3000, 800), 1000), 1.5);
}

TEST(CornerNormals, SpotGetsSmoothUnitNormalsFacingOutwards)
{
    REQUIRE_TESTDATA();
    std::string said;
    std::unique_ptr<object> spot;
    {
        consoleCapture console;
        spot = loadObject(std::string(TESTDATA_DIR) + "/meshes/spot.obj", 0, 0);
        said = console.text();
    }
    ASSERT_NE(spot, nullptr);
    EXPECT_NE(said.find("NORMALS COMPUTED: 17568 corners without a normal in the file\n"), std::string::npos);
    // Smooth: nearly every position has one normal for all its corners; only creases split.
    std::map<std::tuple<double, double, double>, std::vector<vector>> at;
    for (const polygon& p : spot->polygons)
        for (int k = 0; k < 3; ++k) {
            ASSERT_NEAR(std::sqrt(dot(p.normal[k], p.normal[k])), 1.0, 1e-12);
            EXPECT_GT(dot(p.normal[k], p.faceNormal), 0.707); // never across a crease
            auto& seen = at[{p.position[k].x, p.position[k].y, p.position[k].z}];
            if (std::find(seen.begin(), seen.end(), p.normal[k]) == seen.end())
                seen.push_back(p.normal[k]);
        }
    size_t split = 0;
    for (const auto& position : at)
        split += position.second.size() > 1;
    EXPECT_EQ(at.size(), 2930u);
    EXPECT_LT(split, at.size() / 10);

    // The loader's normals are the pairwise form's, bit for bit.
    object slow(0, 0);
    slow.polygons = spot->polygons;
    referenceComputeCornerNormals(slow, std::vector<uint8_t>(slow.polygons.size(), 7));
    for (size_t i = 0; i < slow.polygons.size(); ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_TRUE(sameBits(spot->polygons[i].normal[k], slow.polygons[i].normal[k])) << i << " " << k;
}

// --- Corner normals against the pairwise form ----------------------------------------------

const double nan = std::numeric_limits<double>::quiet_NaN();

polygon face(vector a, vector b, vector c)
{
    polygon p = testmeshes::triangle(a, b, c);
    for (vector& n : p.normal)
        n.set(7, -8, 9); // what a corner that wants no normal keeps
    return p;
}

// n triangles around the origin in the plane through it with the given normal, or, with
// height, a cone whose apex is the origin; a closed fan when sweep is a full turn.
std::vector<polygon> fan(int n, vector axis, double height = 0, double sweep = 2 * M_PI)
{
    normalise(axis);
    vector u = cross(axis, std::fabs(axis.x) < 0.9 ? vector(1, 0, 0) : vector(0, 1, 0));
    normalise(u);
    const vector v = cross(axis, u);
    auto rim = [&](int i) {
        const double a = sweep * i / n;
        return u * std::cos(a) + v * std::sin(a) - axis * height;
    };
    std::vector<polygon> polys;
    for (int i = 0; i < n; ++i)
        polys.push_back(face(vector(0, 0, 0), rim(i), rim(i + 1)));
    return polys;
}

// Sectors of a fan in planes of their own, meeting at creases through the origin.
std::vector<polygon> creases(int perSector, const std::vector<vector>& axes)
{
    std::vector<polygon> polys;
    for (size_t s = 0; s < axes.size(); ++s) {
        vector axis = normalised(axes[s]);
        for (int i = 0; i < perSector; ++i) {
            auto rim = [&](int j) {
                const double a = 2 * M_PI * (static_cast<double>(s) + double(j) / perSector) / static_cast<double>(axes.size());
                vector d(std::cos(a), std::sin(a), 0);
                return d - axis * dot(d, axis);
            };
            polys.push_back(face(vector(0, 0, 0), rim(i), rim(i + 1)));
        }
    }
    return polys;
}

// Triangles between a few random points, so that every position has many corners whose
// faces point every which way (or, flat, up and down).
std::vector<polygon> randomShared(int triangles, int points, double depth)
{
    std::mt19937_64 random(20261208);
    auto unit = [&] { return static_cast<double>(random() >> 11) * 0x1p-53 * 2 - 1; };
    std::vector<vector> pool;
    for (int i = 0; i < points; ++i)
        pool.emplace_back(unit(), unit(), depth * unit());
    std::vector<polygon> polys;
    while (static_cast<int>(polys.size()) < triangles) {
        const size_t a = random() % pool.size(), b = random() % pool.size(), c = random() % pool.size();
        if (a != b && b != c && c != a)
            polys.push_back(face(pool[a], pool[b], pool[c]));
    }
    return polys;
}

// A fan with faces of no area, face normals with a NaN, corners at NaN and infinite
// positions, and an odd-length face normal where asked.
std::vector<polygon> damagedFan(int n, bool oddLength)
{
    std::vector<polygon> polys = fan(n, vector(0.3, -0.5, 0.8));
    for (int i = 0; i < n; i += 7)
        polys[static_cast<size_t>(i)] = face(vector(0, 0, 0), polys[static_cast<size_t>(i)].position[1],
                                             polys[static_cast<size_t>(i)].position[1]);
    for (int i = 3; i < n; i += 11)
        polys[static_cast<size_t>(i)].faceNormal.z = nan;
    if (oddLength)
        polys[5].faceNormal = polys[5].faceNormal * 0.5;
    const vector far(1e308, -1e308, 1e308), lost(nan, 0, 1);
    for (int i = 0; i < 40; ++i) {
        polys.push_back(face(far, vector(0, 0, 0), lost));
        polys.push_back(face(lost, far, vector(1, 1, 1)));
    }
    return polys;
}

// The same positions with other w: w tells positions apart, in corner normals as in edges.
std::vector<polygon> withW(std::vector<polygon> polys)
{
    for (size_t i = 0; i < polys.size(); ++i)
        for (vector& p : polys[i].position)
            p.w = i % 3 == 0 ? 1 : i % 3 == 1 ? 0.5 : -2;
    return polys;
}

// Coordinates of -0 where others have 0, in positions and face normals.
std::vector<polygon> signedZeros(int n)
{
    std::vector<polygon> polys = fan(n, vector(0, 0, 1));
    for (size_t i = 0; i < polys.size(); ++i) {
        if (i % 2)
            polys[i].position[0] = vector(-0.0, 0.0, -0.0);
        if (polys[i].faceNormal.x == 0)
            polys[i].faceNormal.x = i % 3 ? 0.0 : -0.0;
        if (polys[i].faceNormal.y == 0)
            polys[i].faceNormal.y = i % 5 ? -0.0 : 0.0;
    }
    return polys;
}

struct normalsCase {
    const char* name;
    std::vector<polygon> polys;
    double threshold;
    bool someCorners; // a random half of the corners want a normal, else all
};

void PrintTo(const normalsCase& c, std::ostream* out) { *out << c.name; }

class CornerNormalsTable : public ::testing::TestWithParam<normalsCase> {};

TEST_P(CornerNormalsTable, SameBitsAsThePairwiseForm)
{
    const normalsCase& c = GetParam();
    std::vector<uint8_t> marked(c.polys.size(), 7);
    if (c.someCorners) {
        std::mt19937 random(static_cast<unsigned>(c.polys.size()));
        for (uint8_t& m : marked)
            m = static_cast<uint8_t>(random() % 8);
    }
    object fast(0, 0), slow(0, 0);
    fast.polygons = slow.polygons = c.polys;
    fast.sharpEdgeThreshold = slow.sharpEdgeThreshold = c.threshold;
    EXPECT_EQ(computeCornerNormals(fast, marked), referenceComputeCornerNormals(slow, marked));
    size_t differ = 0;
    for (size_t i = 0; i < c.polys.size(); ++i)
        for (int k = 0; k < 3; ++k)
            if (!sameBits(fast.polygons[i].normal[k], slow.polygons[i].normal[k]) && ++differ <= 5)
                ADD_FAILURE() << "triangle " << i << " corner " << k;
    EXPECT_EQ(differ, 0u);
}

std::vector<normalsCase> normalsCases()
{
    const std::vector<polygon> crease = creases(300, {vector(0, 0, 1), vector(0.3, 0, 1), vector(0, 1, 1), vector(-1, -0.2, 0.4)});
    // Two planes whose face normals meet at the threshold itself: some pairs pass by rounding.
    std::vector<polygon> atTheAngle = creases(400, {vector(0.1, 0.2, 1), vector(0.1, 1.2, 1)});
    const double straddle = dot(atTheAngle.front().faceNormal, atTheAngle.back().faceNormal);
    return {
        {"FlatFanOfTwoThousand", fan(2000, vector(0.2, -0.7, 0.4)), 0.707, false},
        {"FlatFanInAnAxisPlane", fan(1000, vector(0, 0, 1)), 0.707, true},
        {"HalfFan", fan(800, vector(-1, 2, 3), 0, M_PI), 0.707, true},
        {"ShallowCone", fan(1000, vector(1, 1, 1), 0.3), 0.707, false},
        {"ConeAtTheSharpAngle", fan(1000, vector(1, 0, 2), 0.95), 0.707, true},
        {"SteepCone", fan(1000, vector(0, 1, 0), 3), 0.707, false},
        {"Creases", crease, 0.707, false},
        {"CreasesSomeCorners", crease, 0.707, true},
        {"CreaseAtTheThreshold", atTheAngle, straddle, false},
        {"RandomSharedPositions", randomShared(1500, 24, 1), 0.707, true},
        {"RandomNearlyFlat", randomShared(1500, 30, 0.01), 0.707, false},
        {"RandomBelowZero", randomShared(600, 12, 1), -0.4, false},
        {"DamagedFan", damagedFan(900, false), 0.707, false},
        {"DamagedFanBelowZero", damagedFan(900, false), -0.5, true},
        {"DamagedFanOddLength", damagedFan(300, true), 0.707, false},
        {"ThresholdOne", fan(500, vector(0.2, 0.1, 1)), 1.0, false},
        {"ThresholdJustBelowOne", fan(500, vector(0.2, 0.1, 1)), 0.9999999999, false},
        {"ThresholdNaN", fan(500, vector(0.2, 0.1, 1)), nan, false},
        {"ThresholdMinusInfinity", damagedFan(300, false), -std::numeric_limits<double>::infinity(), false},
        {"WDiffers", withW(fan(600, vector(2, 1, -1), 0.4)), 0.707, false},
        {"SignedZeros", signedZeros(600), 0.707, false},
        {"Sphere", testmeshes::sphere(vector(1, 2, 3), 2, 40, 20), 0.707, true},
        {"Box", testmeshes::box(vector(-1, -2, -3), vector(1, 2, 3)), 0.707, false},
    };
}

INSTANTIATE_TEST_SUITE_P(Meshes, CornerNormalsTable, ::testing::ValuesIn(normalsCases()),
                         [](const ::testing::TestParamInfo<normalsCase>& info) { return std::string(info.param.name); });

} // namespace
