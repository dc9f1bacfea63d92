#include "core/console.h"
#include "core/progress.h"
#include "mesh/edgelist.h"
#include "mesh/normals.h"
#include "mesh/object.h"
#include "mesh/objwriter.h"
#include "mesh/positiontable.h"
#include "tests/testdata.h"
#include "tests/reference/edgelist_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

namespace {

polygon triangle(vector a, vector b, vector c)
{
    polygon p;
    p.position[0] = a;
    p.position[1] = b;
    p.position[2] = c;
    p.faceNormal = normalised(cross(b - a, c - a));
    return p;
}

void setPolygons(object& obj, std::vector<polygon> polys)
{
    obj.polygons = std::move(polys);
    obj.polygonCount = static_cast<int>(obj.polygons.size());
}

struct totals {
    int edges, sharp, boundary;
};

totals countEdges(const object& obj)
{
    totals t{obj.edgeCount, 0, 0};
    for (const edge& e : obj.edges) {
        t.sharp += e.sharp;
        t.boundary += e.secondFace == -1;
    }
    return t;
}

std::vector<polygon> cube()
{
    vector c[8];
    for (int i = 0; i < 8; ++i)
        c[i] = vector(i & 1, (i >> 1) & 1, (i >> 2) & 1);
    // Two outward-facing triangles per side.
    const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<polygon> polys;
    for (const auto& q : quads) {
        polys.push_back(triangle(c[q[0]], c[q[1]], c[q[2]]));
        polys.push_back(triangle(c[q[0]], c[q[2]], c[q[3]]));
    }
    return polys;
}

// Runs both forms on copies of the same polygons and compares every field and the console.
void expectSameAsReference(const std::vector<polygon>& polys, const std::string& what)
{
    object fast(0, 0), plain(0, 0);
    setPolygons(fast, polys);
    setPolygons(plain, polys);
    std::string fastText, plainText;
    {
        consoleCapture capture;
        buildEdgeList(&fast);
        fastText = capture.text();
    }
    {
        consoleCapture capture;
        referenceBuildEdgeList(&plain);
        plainText = capture.text();
    }
    SCOPED_TRACE(what);
    EXPECT_EQ(fastText, plainText);
    ASSERT_EQ(fast.edgeCount, plain.edgeCount);
    for (int i = 0; i < fast.edgeCount; ++i) {
        const edge& a = fast.edges[i];
        const edge& b = plain.edges[i];
        // Bitwise comparison, so that -0.0 and NaN corners are checked too.
        ASSERT_EQ(std::memcmp(&a.start.x, &b.start.x, 4 * sizeof(double)), 0) << "edge " << i;
        ASSERT_EQ(std::memcmp(&a.end.x, &b.end.x, 4 * sizeof(double)), 0) << "edge " << i;
        ASSERT_EQ(a.firstFace, b.firstFace) << "edge " << i;
        ASSERT_EQ(a.secondFace, b.secondFace) << "edge " << i;
        ASSERT_EQ(a.sharp, b.sharp) << "edge " << i;
    }
    for (int i = 0; i < fast.polygonCount; ++i)
        ASSERT_EQ(std::memcmp(&fast.polygons[i].faceNormal.x, &plain.polygons[i].faceNormal.x, 4 * sizeof(double)), 0);
}

} // namespace

TEST(progressPercent, singlePrecisionTruncation)
{
    struct Case {
        int64_t counter, total;
        int percent;
    } cases[] = {
        {0, 1, 0}, {1, 3, 33}, {2, 3, 66}, {99, 100, 99}, {100, 100, 100}, {6, 7, 85},
        // 100 / 3 and 100 / 7 round down in single precision, yet the products round back up
        // to exactly 100.
        {3, 3, 100}, {7, 7, 100},
        // Where the single-precision step times the counter lands just below a whole number,
        // truncation loses one. 100 / 97 rounds to 1.03092778 and times 97 gives 99.9999924;
        // 100 / 99 rounds to 1.01010096, times 99 also 99.9999924 (in double: exactly 100);
        // 100 / 115 rounds to 0.869565189, times 69 gives 59.9999962 (in double: 60);
        // 100 / 194 rounds to 0.515463889, times 97 gives 49.9999962.
        {97, 97, 99}, {99, 99, 99}, {69, 115, 59}, {97, 194, 49},
        {1, 0, 0}, // nothing to do: no garbage from 100 / 0
        // W x H x polygons beyond 2^31 (256 x 256 x 40,000) still gives a percentage.
        {int64_t(256) * 256 * 40000 / 2, int64_t(256) * 256 * 40000, 50},
        {int64_t(1024) * 1024 * 1000000 - 1, int64_t(1024) * 1024 * 1000000, 100},
    };
    for (const Case& k : cases)
        EXPECT_EQ(progressPercent(k.counter, k.total), k.percent) << k.counter << "/" << k.total;
}

TEST(edgeList, oneTriangle)
{
    object obj(0, 0);
    setPolygons(obj, {triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0})});
    consoleCapture capture;
    buildEdgeList(&obj);
    EXPECT_EQ(capture.text(),
              "Generating Edge List: 0%\r"
              "\nEDGE LIST GENERATED:\n"
              "TOTAL NUMBER OF EDGES:       3\n"
              "NUMBER OF SHARP EDGES:       3\n"
              "NUMBER OF BOUNDARY EDGES:    3\n\n");
    ASSERT_EQ(obj.edgeCount, 3);
    // Edges follow the corner order of the polygon.
    EXPECT_EQ(obj.edges[1].start, vector(1, 0, 0));
    EXPECT_EQ(obj.edges[1].end, vector(0, 1, 0));
    EXPECT_EQ(obj.edges[2].start, vector(0, 1, 0));
    EXPECT_EQ(obj.edges[2].end, vector(0, 0, 0));
    for (const edge& e : obj.edges) {
        EXPECT_EQ(e.firstFace, 0);
        EXPECT_EQ(e.secondFace, -1);
    }
}

TEST(edgeList, totalsOfSmallMeshes)
{
    struct Case {
        const char* what;
        std::vector<polygon> polys;
        totals expected;
    } cases[] = {
        {"no polygons", {}, {0, 0, 0}},
        {"two coplanar triangles", {triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0}), triangle({0, 0, 0}, {1, 1, 0}, {0, 1, 0})}, {5, 4, 4}},
        {"closed cube", cube(), {18, 12, 0}},
        // Faces meeting at exactly 45 degrees (d = 0.70711) are not sharp; at 46 they are.
        {"45 degree crease", {triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), triangle({1, 0, 0}, {0, 0, 0}, {0, -1, -1})}, {5, 4, 4}},
        {"46 degree crease", {triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}),
                              triangle({1, 0, 0}, {0, 0, 0}, {0, -std::cos(0.8029), -std::sin(0.8029)})}, {5, 5, 4}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        object obj(0, 0);
        setPolygons(obj, k.polys);
        consoleCapture capture;
        buildEdgeList(&obj);
        totals t = countEdges(obj);
        EXPECT_EQ(t.edges, k.expected.edges);
        EXPECT_EQ(t.sharp, k.expected.sharp);
        EXPECT_EQ(t.boundary, k.expected.boundary);
        EXPECT_EQ(obj.edges.size(), static_cast<size_t>(k.expected.edges));
    }
}

TEST(edgeList, sharedEdgeAndNoProgressWithoutPolygons)
{
    object two(0, 0);
    setPolygons(two, {triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0}), triangle({0, 0, 0}, {1, 1, 0}, {0, 1, 0})});
    consoleCapture capture;
    buildEdgeList(&two);
    const edge& shared = two.edges[2]; // corners 2 -> 0 of the first triangle
    EXPECT_EQ(shared.start, vector(1, 1, 0));
    EXPECT_EQ(shared.firstFace, 0);
    EXPECT_EQ(shared.secondFace, 1);
    EXPECT_EQ(shared.sharp, 0);

    capture.clear();
    object none(0, 0);
    buildEdgeList(&none);
    EXPECT_EQ(capture.text(), "\nEDGE LIST GENERATED:\nTOTAL NUMBER OF EDGES:       0\n"
                              "NUMBER OF SHARP EDGES:       0\nNUMBER OF BOUNDARY EDGES:    0\n\n");
    EXPECT_TRUE(none.edges.empty());
}

TEST(edgeList, seamsJoinByPositionAndFansTakeTheLowestNeighbour)
{
    // Three triangles on one edge: the edge records only the lowest other polygon.
    object fan(0, 0);
    setPolygons(fan, {triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), triangle({1, 0, 0}, {0, 0, 0}, {0, -1, 0}),
                      triangle({0, 0, 0}, {1, 0, 0}, {0, 0, 1})});
    consoleCapture capture;
    buildEdgeList(&fan);
    EXPECT_EQ(fan.edges[0].secondFace, 1);
    EXPECT_EQ(fan.edgeCount, 7);

    // Face normals are normalised again.
    object scaled(0, 0);
    polygon p = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    p.faceNormal = vector(0, 0, 5);
    setPolygons(scaled, {p});
    buildEdgeList(&scaled);
    EXPECT_EQ(scaled.polygons[0].faceNormal, vector(0, 0, 1));
}

// Edges, corner normals and written vertices all ask one table whether two corners meet:
// a -0 meets 0, another w or a NaN meets nothing.
TEST(positionTable, everyTableMeetsCornersAlike)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct meetCase {
        const char* what;
        vector shared; // the second triangle's copy of the first's corner (0, 0, 0)
        bool meets;
    };
    vector otherW(0, 0, 0), withNan(0, nan, 0);
    otherW.w = 2;
    const meetCase cases[] = {
        {"equal", vector(0, 0, 0), true},
        {"negative zero", vector(-0.0, 0.0, -0.0), true},
        {"other w", otherW, false},
        {"NaN", withNan, false},
    };
    for (const meetCase& c : cases) {
        SCOPED_TRACE(c.what);
        // Folded along (0, 0, 0)-(1, 1, 0) at 90 degrees, below the sharp-edge angle.
        object two(0, 0);
        setPolygons(two, {triangle({0, 0, 0}, {1, 0, 0}, {1, 1, 0}), triangle({1, 1, 0}, {0, 0, 1}, {0, 0, 0})});
        two.polygons[1].position[2] = c.shared;
        two.sharpEdgeThreshold = -0.5;
        consoleCapture capture;
        buildEdgeList(&two);
        EXPECT_EQ(two.edgeCount, c.meets ? 5 : 6);

        positionTable table;
        uint32_t numbers[6];
        table.numberCorners(two.polygons.data(), 2, numbers);
        EXPECT_EQ(table.size(), c.meets ? 4u : 5u);
        EXPECT_EQ(numbers[5] == numbers[0], c.meets);
        EXPECT_EQ(table.number(c.shared) == numbers[5], positionTable::matchable(c.shared)); // NaN: never again

        computeCornerNormals(two, std::vector<uint8_t>(2, 7));
        const vector& n = two.polygons[0].normal[0];
        EXPECT_EQ(n.x != 0, c.meets) << n.x << " " << n.y << " " << n.z; // leans towards the other face

        std::istringstream written(encodeObj(two, "", ""));
        int records = 0;
        for (std::string line; std::getline(written, line);)
            records += line.rfind("v ", 0) == 0;
        EXPECT_EQ(records, c.meets ? 4 : 5);
    }
}

TEST(edgeList, realMeshes)
{
    REQUIRE_TESTDATA();
    // The gazebo splits its corners per face, so its edges join only by position.
    for (const char* name : {"gazebo.obj", "spot.obj"}) {
        SCOPED_TRACE(name);
        consoleCapture capture;
        auto obj = loadObject(std::string(TESTDATA_DIR) + "/meshes/" + name, 0, 0);
        ASSERT_NE(obj, nullptr);
        buildEdgeList(obj.get());
        totals t = countEdges(*obj);
        EXPECT_LT(t.edges, 3 * obj->polygonCount);
        if (std::string(name) == "spot.obj") {
            // A closed mesh: every edge has two faces, and Euler's formula holds (genus 0).
            EXPECT_EQ(t.boundary, 0);
            EXPECT_EQ(2 * t.edges, 3 * obj->polygonCount);
        }
    }
    consoleCapture capture;
    auto gazebo = loadObject(std::string(TESTDATA_DIR) + "/meshes/gazebo.obj", 0, 0);
    ASSERT_NE(gazebo, nullptr);
    expectSameAsReference(gazebo->polygons, "gazebo");
}

TEST(edgeList, sameAsQuadraticFormOnGeneratedMeshes)
{
    std::mt19937 random(20261207);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int round = 0; round < 40; ++round) {
        // Corners drawn from a small lattice give shared, non-manifold and degenerate edges.
        int lattice = 2 + round % 5;
        int count = 1 + static_cast<int>(random() % 300);
        std::uniform_int_distribution<int> coordinate(0, lattice);
        auto point = [&] {
            vector v(coordinate(random), coordinate(random), round % 3 == 0 ? 0 : coordinate(random));
            switch (random() % 40) {
            case 0: v.x = -0.0 * v.x - 0.0; break; // a negative zero
            case 1: v.y = nan; break;
            case 2: v.w = 2.0; break;              // equal x, y, z but another w
            default: break;
            }
            return v;
        };
        std::vector<polygon> polys;
        for (int i = 0; i < count; ++i) {
            if (!polys.empty() && random() % 4 == 0) {
                // Reuse an edge of an earlier polygon, either way round.
                const polygon& other = polys[random() % polys.size()];
                int k = static_cast<int>(random() % 3);
                vector a = other.position[k], b = other.position[(k + 1) % 3];
                polys.push_back(random() % 2 ? triangle(b, a, point()) : triangle(a, b, point()));
            } else {
                polys.push_back(triangle(point(), point(), point()));
            }
        }
        expectSameAsReference(polys, "round " + std::to_string(round));
    }
    expectSameAsReference(cube(), "cube");
}
