#include "core/console.h"
#include "mesh/object.h"

#include "tests/testdata.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

// Readable failure messages; found by argument lookup, so it sits beside vector.
static void PrintTo(const vector& v, std::ostream* out)
{
    *out << "(" << v.x << ", " << v.y << ", " << v.z << "; w " << v.w << ")";
}

namespace {

struct loaded {
    std::unique_ptr<object> obj;
    std::string text;
};

// Parses from a heap block of exactly the text's size, so that the sanitizer build catches
// any read past the end.
loaded parse(const std::string& source, int w = 0, int h = 0, const std::string& path = "mem.obj")
{
    std::unique_ptr<char[]> block(new char[source.size() + (source.empty() ? 1 : 0)]);
    std::memcpy(block.get(), source.data(), source.size());
    consoleCapture console;
    loaded r;
    r.obj = parseObject(block.get(), source.size(), path, w, h);
    r.text = console.text();
    return r;
}

std::string report(const std::string& path, int v, int vt, int vn, int f)
{
    return "Object Data: \n\nFILE NAME: " + path + "\nVERTICES: " + std::to_string(v) +
           "\nUVS: " + std::to_string(vt) + "\nNORMALS: " + std::to_string(vn) +
           "\nPOLYGONS: " + std::to_string(f) + "\n\n";
}

std::string success(const std::string& path) { return "Object '" + path + "' loaded successfully\n"; }

std::string computedNormals(long long corners)
{
    return "NORMALS COMPUTED: " + std::to_string(corners) + " corners without a normal in the file\n";
}

// Bit-for-bit, so that NaNs and the sign of zero count.
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A temporary file removed again when the test ends.
class tempFile {
public:
    explicit tempFile(const std::string& content)
    {
        static std::atomic<int> serial{0};
        path = (std::filesystem::temp_directory_path() /
                ("objloader_test_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".obj"))
                   .string();
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    ~tempFile()
    {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    std::string path;
};

const char* const vertexMsg = "ERROR: Vertex index is out of range!\n";
const char* const uvMsg = "ERROR: UV index is out of range!\n";
const char* const normalMsg = "ERROR: Normal index is out of range!\n";

const std::string triangleWithNormals =
    "v 0 0 0\nv 2 0 0\nv 0 3 0\n"
    "vt 0.1 0.2\nvt 0.3 0.4\nvt 0.5 0.6\n"
    "vn 0 0 2\nvn 0 1 1\nvn 1 0 0\n"
    "f 1/1/1 2/2/2 3/3/3\n";

TEST(ObjLoaderReport, IsPrintedByteForByte)
{
    loaded r = parse(triangleWithNormals, 0, 0, "some dir/tri.obj");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text,
              "Object Data: \n\nFILE NAME: some dir/tri.obj\nVERTICES: 3\nUVS: 3\nNORMALS: 3\n"
              "POLYGONS: 1\n\nObject 'some dir/tri.obj' loaded successfully\n");
}

TEST(ObjLoaderReport, PathIsPrintedAsGivenEvenWithPercentSigns)
{
    loaded r = parse("", 0, 0, "100%s%d.obj");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("100%s%d.obj", 0, 0, 0, 0) + success("100%s%d.obj"));
}

TEST(ObjLoaderFaces, CornersCopyTheirRecordsAndTheFaceNormalIsRightHanded)
{
    loaded r = parse(triangleWithNormals);
    ASSERT_NE(r.obj, nullptr);
    const object& o = *r.obj;
    ASSERT_EQ(o.polygonCount, 1);
    ASSERT_EQ(o.polygons.size(), 1u);
    const polygon& p = o.polygons[0];
    EXPECT_EQ(p.position[0], vector(0, 0, 0));
    EXPECT_EQ(p.position[1], vector(2, 0, 0));
    EXPECT_EQ(p.position[2], vector(0, 3, 0));
    EXPECT_EQ(p.texCoord[0], vector(0.1, 0.2, 0));
    EXPECT_EQ(p.texCoord[2], vector(0.5, 0.6, 0));
    // Corner normals stay as written in the file, unnormalised.
    EXPECT_EQ(p.normal[0], vector(0, 0, 2));
    EXPECT_EQ(p.normal[1], vector(0, 1, 1));
    EXPECT_EQ(p.normal[2], vector(1, 0, 0));
    EXPECT_EQ(p.faceNormal, vector(0, 0, 1));
    EXPECT_EQ(p.facing, 1);
}

TEST(ObjLoaderFaces, SlantedFaceNormalHasUnitLength)
{
    loaded r = parse("v 1 0 0\nv 0 1 0\nv 0 0 1\nvt 0 0\nf 1/1 2/1 3/1\nf 1/1 3/1 2/1\n");
    ASSERT_NE(r.obj, nullptr);
    double c = 1.0 / std::sqrt(3.0);
    EXPECT_EQ(r.obj->polygons[0].faceNormal, vector(c, c, c));
    EXPECT_EQ(r.obj->polygons[1].faceNormal, vector(-c, -c, -c));
}

TEST(ObjLoaderFaces, FileWithoutNormalsReadsVertexAndUvPairs)
{
    loaded r = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 0, 1) + computedNormals(3) + success("mem.obj"));
    const polygon& p = r.obj->polygons[0];
    EXPECT_EQ(p.position[1], vector(1, 0, 0));
    EXPECT_EQ(p.texCoord[2], vector(0, 1, 0));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(p.normal[k], vector(0, 0, 1));
    EXPECT_EQ(p.faceNormal, vector(0, 0, 1));
}

TEST(ObjLoaderFaces, ConvexQuadIsAFanFromItsFirstCorner)
{
    loaded r = parse("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                     "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                     "f 1/1 2/2 3/3 4/4\nf 4/4 3/3 2/2 1/1\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 4, 4, 0, 4) + computedNormals(12) + success("mem.obj"));
    ASSERT_EQ(r.obj->polygons.size(), 4u);
    const int corners[4][3] = {{0, 1, 2}, {0, 2, 3}, {3, 2, 1}, {3, 1, 0}};
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(r.obj->polygons[t].position[k], r.obj->vertices[corners[t][k]]) << t << " " << k;
            EXPECT_EQ(r.obj->polygons[t].texCoord[k], r.obj->uvs[corners[t][k]]) << t << " " << k;
        }
    EXPECT_EQ(r.obj->polygons[1].faceNormal, vector(0, 0, 1));
    EXPECT_EQ(r.obj->polygons[3].faceNormal, vector(0, 0, -1));
}

TEST(ObjLoaderFaces, CommentedFaceCountsAndIsRead)
{
    loaded r = parse(triangleWithNormals + "# f 1/1/1 3/3/3 2/2/2\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 3, 2) + success("mem.obj"));
    ASSERT_EQ(r.obj->polygons.size(), 2u);
    EXPECT_EQ(r.obj->polygons[1].position[1], vector(0, 3, 0));
    EXPECT_EQ(r.obj->polygons[1].faceNormal, vector(0, 0, -1));
}

TEST(ObjLoaderFaces, DegenerateTriangleKeepsAZeroFaceNormal)
{
    loaded r = parse("v 1 2 3\nv 4 5 6\nv 7 8 9\nvt 0 0\n"
                     "f 1/1 1/1 2/1\nf 1/1 2/1 3/1\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.obj->polygons[0].faceNormal, vector(0, 0, 0)); // two equal corners
    EXPECT_EQ(r.obj->polygons[1].faceNormal, vector(0, 0, 0)); // collinear corners
}

TEST(ObjLoaderFaces, RecordsAfterTheFaceAreTheOnesItNames)
{
    loaded r = parse("vt 0 0\nf 1/2/1 2/1/1 3/2/1\nv 1 0 0\nv 0 1 0\nv 0 0 1\nvt 0.5 1\nvn 0 0 -2\n"
                     "f 1/1 2/1 3/1\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 2, 1, 2) + computedNormals(3) + success("mem.obj"));
    const vector corners[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const polygon& p : r.obj->polygons)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(p.position[k], corners[k]);
    const polygon& first = r.obj->polygons[0];
    EXPECT_EQ(first.texCoord[0], vector(0.5, 1, 0));
    EXPECT_EQ(first.texCoord[1], vector(0, 0, 0));
    EXPECT_EQ(first.normal[2], vector(0, 0, -2));
    // The face normal follows the corners it was given last.
    const double third = 1 / std::sqrt(3.0);
    EXPECT_NEAR(first.faceNormal.x, third, 1e-15);
    EXPECT_NEAR(first.faceNormal.z, third, 1e-15);
    EXPECT_EQ(first.faceNormal, r.obj->polygons[1].faceNormal);
}

TEST(ObjLoaderFaces, NegativeIndicesCountBackFromTheLastRecordReadSoFar)
{
    loaded r = parse("v 1 0 0\nv 2 0 0\nv 3 0 0\nvt 0.5 0\nvn 0 0 1\n"
                     "f -1/-1/-1 -2/-1/-1 -3/-1/-1\n"
                     "v 4 0 0\nvt 0.25 0\n"
                     "f -1/-1/-1 -2/-2/-1 -4/-1/-1\n"
                     "f -5/1/1 1/1/1 1/1/1\n"
                     // Index 0 names nothing, even while records are still to come.
                     "f 1/1/1 0/1/1 1/0/0\n"
                     "v 5 0 0\nvt 0.125 0\nvn 0 1 0\n");
    ASSERT_NE(r.obj, nullptr);
    const auto& p = r.obj->polygons;
    EXPECT_EQ(p[0].position[0], vector(3, 0, 0));
    EXPECT_EQ(p[0].position[2], vector(1, 0, 0));
    EXPECT_EQ(p[0].texCoord[0], vector(0.5, 0, 0));
    EXPECT_EQ(p[1].position[0], vector(4, 0, 0));
    EXPECT_EQ(p[1].position[2], vector(1, 0, 0));
    EXPECT_EQ(p[1].texCoord[0], vector(0.25, 0, 0));
    EXPECT_EQ(p[1].texCoord[1], vector(0.5, 0, 0));
    EXPECT_EQ(p[1].normal[2], vector(0, 0, 1));
    EXPECT_EQ(p[2].position[0], vector(0, 0, 0));
    EXPECT_EQ(p[3].position[1], vector(0, 0, 0));
    EXPECT_EQ(p[3].texCoord[2], vector(0, 0, 0));
    EXPECT_EQ(r.text, report("mem.obj", 5, 3, 2, 4) + vertexMsg + uvMsg + normalMsg + success("mem.obj"));
}

// Index faults. Three distinct records of each kind; expected[k] names, for corner k, the
// record (0-based) that its position, texture coordinate and normal should hold, -1 for
// the default.
struct faultCase {
    const char* name;
    const char* face;
    const char* messages;
    int expected[3][3];
};


std::string threeOfEach(bool withNormals)
{
    std::string s = "v 1 0 0\nv 0 2 0\nv 0 0 3\nvt 0.1 0\nvt 0.2 0\nvt 0.3 0\n";
    if (withNormals)
        s += "vn 1 0 0\nvn 0 1 0\nvn 0 0 1\n";
    return s;
}

// A normal of -2: the corner names none, so it gets the computed one, which for a lone
// triangle is its own unit face normal.
const int computed = -2;

void checkCorners(const object& o, const faultCase& c)
{
    const polygon& p = o.polygons[0];
    const vector face = normalised(cross(p.position[1] - p.position[0], p.position[2] - p.position[0]));
    for (int k = 0; k < 3; ++k) {
        int v = c.expected[k][0], t = c.expected[k][1], n = c.expected[k][2];
        EXPECT_EQ(p.position[k], v < 0 ? vector() : o.vertices[v]) << "corner " << k;
        EXPECT_EQ(p.texCoord[k], t < 0 ? vector() : o.uvs[t]) << "corner " << k;
        if (n == computed) {
            EXPECT_NEAR(p.normal[k].x, face.x, 1e-12) << "corner " << k;
            EXPECT_NEAR(p.normal[k].y, face.y, 1e-12) << "corner " << k;
            EXPECT_NEAR(p.normal[k].z, face.z, 1e-12) << "corner " << k;
        } else {
            EXPECT_EQ(p.normal[k], n < 0 ? vector() : o.normals[n]) << "corner " << k;
        }
    }
}

// The loader's line for the corners it gave computed normals.
std::string computedLine(const faultCase& c)
{
    int count = 0;
    for (const auto& corner : c.expected)
        count += corner[2] == computed;
    return count ? computedNormals(count) : "";
}

class ObjLoaderIndexFault : public ::testing::TestWithParam<faultCase> {};

TEST_P(ObjLoaderIndexFault, IsReportedAndLeavesTheDefault)
{
    const faultCase& c = GetParam();
    loaded r = parse(threeOfEach(true) + c.face + "\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 3, 1) + c.messages + computedLine(c) + success("mem.obj"));
    checkCorners(*r.obj, c);
    EXPECT_EQ(r.obj->facesOutOfRange, *c.messages ? 1 : 0);
}

#define ALL_LOADED {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}

INSTANTIATE_TEST_SUITE_P(
    WithNormals, ObjLoaderIndexFault,
    ::testing::Values(
        faultCase{"AllInRange", "f 1/1/1 2/2/2 3/3/3", "", ALL_LOADED},
        faultCase{"VertexTooLargeCorner0", "f 4/1/1 2/2/2 3/3/3", vertexMsg, {{-1, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"VertexTooLargeCorner1", "f 1/1/1 9/2/2 3/3/3", vertexMsg, {{0, 0, 0}, {-1, 1, 1}, {2, 2, 2}}},
        faultCase{"VertexTooLargeCorner2", "f 1/1/1 2/2/2 4/3/3", vertexMsg, {{0, 0, 0}, {1, 1, 1}, {-1, 2, 2}}},
        faultCase{"UvTooLargeCorner0", "f 1/4/1 2/2/2 3/3/3", uvMsg, {{0, -1, 0}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"UvTooLargeCorner1", "f 1/1/1 2/4/2 3/3/3", uvMsg, {{0, 0, 0}, {1, -1, 1}, {2, 2, 2}}},
        faultCase{"UvTooLargeCorner2", "f 1/1/1 2/2/2 3/4/3", uvMsg, {{0, 0, 0}, {1, 1, 1}, {2, -1, 2}}},
        faultCase{"NormalTooLargeCorner0", "f 1/1/4 2/2/2 3/3/3", normalMsg, {{0, 0, -1}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"NormalTooLargeCorner1", "f 1/1/1 2/2/4 3/3/3", normalMsg, {{0, 0, 0}, {1, 1, -1}, {2, 2, 2}}},
        faultCase{"NormalTooLargeCorner2", "f 1/1/1 2/2/2 3/3/4", normalMsg, {{0, 0, 0}, {1, 1, 1}, {2, 2, -1}}},
        faultCase{"VertexZero", "f 0/1/1 2/2/2 3/3/3", vertexMsg, {{-1, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"UvZero", "f 1/1/1 2/0/2 3/3/3", uvMsg, {{0, 0, 0}, {1, -1, 1}, {2, 2, 2}}},
        faultCase{"NormalZero", "f 1/1/1 2/2/2 3/3/0", normalMsg, {{0, 0, 0}, {1, 1, 1}, {2, 2, -1}}},
        faultCase{"AllThreeInOneCornerInOrder", "f 1/1/1 4/0/-4 3/3/3",
                  "ERROR: Vertex index is out of range!\nERROR: UV index is out of range!\n"
                  "ERROR: Normal index is out of range!\n",
                  {{0, 0, 0}, {-1, -1, -1}, {2, 2, 2}}},
        faultCase{"EveryCornerFaulty", "f 7/1/1 2/7/2 3/3/7",
                  "ERROR: Vertex index is out of range!\nERROR: UV index is out of range!\n"
                  "ERROR: Normal index is out of range!\n",
                  {{-1, 0, 0}, {1, -1, 1}, {2, 2, -1}}},
        faultCase{"NegativeInRange", "f -3/-3/-3 -2/-2/-2 -1/-1/-1", "", ALL_LOADED},
        faultCase{"NegativeVertexOutOfRange", "f -4/1/1 2/2/2 3/3/3", vertexMsg, {{-1, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"NegativeUvOutOfRange", "f 1/1/1 2/-4/2 3/3/3", uvMsg, {{0, 0, 0}, {1, -1, 1}, {2, 2, 2}}},
        faultCase{"NegativeNormalOutOfRange", "f 1/1/1 2/2/2 3/3/-4", normalMsg, {{0, 0, 0}, {1, 1, 1}, {2, 2, -1}}},
        faultCase{"IntMaxPlusOne", "f 2147483648/1/1 2/2/2 3/3/3", vertexMsg, {{-1, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
        faultCase{"HugePositive", "f 1/1/1 2/99999999999999999999999/2 3/3/3", uvMsg, {{0, 0, 0}, {1, -1, 1}, {2, 2, 2}}},
        faultCase{"HugeNegative", "f 1/1/1 2/2/2 3/3/-99999999999999999999", normalMsg, {{0, 0, 0}, {1, 1, 1}, {2, 2, -1}}},
        faultCase{"ExplicitPlusSign", "f +1/+1/+1 2/2/2 3/3/3", "", ALL_LOADED},
        // Other corner forms load what they name and report nothing.
        faultCase{"VertexAndNormal", "f 1//1 2//2 3//3", "", {{0, -1, 0}, {1, -1, 1}, {2, -1, 2}}},
        faultCase{"VertexOnly", "f 1 2 3", "", {{0, -1, -2}, {1, -1, -2}, {2, -1, -2}}},
        faultCase{"VertexAndUvInAFileWithNormals", "f 1/1 2/2 3/3", "", {{0, 0, -2}, {1, 1, -2}, {2, 2, -2}}},
        faultCase{"MixedForms", "f 1 2/2 3//3", "", {{0, -1, -2}, {1, 1, -2}, {2, -1, 2}}},
        faultCase{"TrailingJunkIsIgnored", "f 1/1/1x 2/2/2/9 3/3/3abc", "", ALL_LOADED},
        faultCase{"NoLeadingVertexIndex", "f /1/1 x 3/3/3", "", {{-1, -1, -2}, {-1, -1, -2}, {2, 2, 2}}},
        faultCase{"BrokenAfterVertex", "f 1/x/1 2/2x/2 3/3/3", "", {{0, -1, -2}, {1, 1, -2}, {2, 2, 2}}},
        faultCase{"FaultyMixedForm", "f 4//1 2//0 3/3/3",
                  "ERROR: Vertex index is out of range!\nERROR: Normal index is out of range!\n",
                  {{-1, -1, 0}, {1, -1, -1}, {2, 2, 2}}}),
    [](const ::testing::TestParamInfo<faultCase>& info) { return std::string(info.param.name); });

class ObjLoaderIndexFaultNoNormals : public ::testing::TestWithParam<faultCase> {};

TEST_P(ObjLoaderIndexFaultNoNormals, IsReportedAndLeavesTheDefault)
{
    const faultCase& c = GetParam();
    loaded r = parse(threeOfEach(false) + c.face + "\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 0, 1) + c.messages + computedLine(c) + success("mem.obj"));
    checkCorners(*r.obj, c);
    EXPECT_EQ(r.obj->facesOutOfRange, *c.messages ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    WithoutNormals, ObjLoaderIndexFaultNoNormals,
    ::testing::Values(
        faultCase{"AllInRange", "f 1/1 2/2 3/3", "", {{0, 0, -2}, {1, 1, -2}, {2, 2, -2}}},
        faultCase{"ThirdCornerVertexTooLarge", "f 1/1 2/2 4/3", vertexMsg, {{0, 0, -2}, {1, 1, -2}, {-1, 2, -2}}},
        faultCase{"ThirdCornerBothTooLarge", "f 1/1 2/2 5/5",
                  "ERROR: Vertex index is out of range!\nERROR: UV index is out of range!\n",
                  {{0, 0, -2}, {1, 1, -2}, {-1, -1, -2}}},
        faultCase{"FirstCornerVertexTooLarge", "f 4/1 2/2 3/3", vertexMsg, {{-1, 0, -2}, {1, 1, -2}, {2, 2, -2}}},
        faultCase{"SecondCornerUvZero", "f 1/1 2/0 3/3", uvMsg, {{0, 0, -2}, {1, -1, -2}, {2, 2, -2}}},
        // There are no normals for a normal index to name.
        faultCase{"NormalIndexHasNothingToName", "f 1/1/1 2/2 3//3",
                  "ERROR: Normal index is out of range!\n", {{0, 0, -2}, {1, 1, -2}, {2, -1, -2}}}),
    [](const ::testing::TestParamInfo<faultCase>& info) { return std::string(info.param.name); });

TEST(ObjLoaderIndexFault, FaultsInManyFacesAreReportedOncePerKindAndLoadingGoesOn)
{
    loaded r = parse(threeOfEach(true) + "f 4/1/1 2/2/2 3/3/3\nf 1/1/1 2/2/2 3/3/3\nf 1/1/1 2/9/2 3/3/3\n"
                                         "f 8/1/1 -9/2/2 3/-7/3\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 3, 4) + vertexMsg + uvMsg + success("mem.obj"));
    EXPECT_EQ(r.obj->polygons[1].position[0], vector(1, 0, 0));
    EXPECT_EQ(r.obj->polygons[3].position[2], vector(0, 0, 3));
    EXPECT_EQ(r.obj->facesOutOfRange, 3); // faces, however many of their indices are out
}

// Faces of other sizes are read again whole after the triangle path gives them up: each
// counts once, and so does a face too short to keep.
TEST(ObjLoaderIndexFault, FacesOfAnySizeCountOnce)
{
    loaded r = parse(threeOfEach(true) + "v 0 0 1\n"
                                         "f 1 2 3 9\nf 1 2 3 4\nf 9/9/9 2 3 4 -9\nf 1 9\nf 1 2\nf 1/1/9 2/2/2 3/3/3\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.obj->facesOutOfRange, 4);
    EXPECT_EQ(r.text.find(vertexMsg), r.text.rfind(vertexMsg));
}

// Truncated records at the very end of the data.
struct truncatedCase {
    const char* name;
    const char* source;
    vector expected; // the record that was cut short
};

class ObjLoaderTruncated : public ::testing::TestWithParam<truncatedCase> {};

TEST_P(ObjLoaderTruncated, MissingNumbersStayZero)
{
    const truncatedCase& c = GetParam();
    loaded r = parse(c.source);
    ASSERT_NE(r.obj, nullptr);
    const object& o = *r.obj;
    const vector* got = nullptr;
    if (!o.normals.empty())
        got = &o.normals.back();
    else if (!o.uvs.empty())
        got = &o.uvs.back();
    else
        got = &o.vertices.back();
    EXPECT_EQ(*got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AtEndOfData, ObjLoaderTruncated,
    ::testing::Values(truncatedCase{"VertexTwoNumbers", "v 1 2", vector(1, 2, 0)},
                      truncatedCase{"VertexOneNumberAndSpace", "v 1.5 ", vector(1.5, 0, 0)},
                      truncatedCase{"VertexNoNumbers", "v", vector(0, 0, 0)},
                      truncatedCase{"VertexLastNumberAtTheEnd", "v 1 2 3.25", vector(1, 2, 3.25)},
                      truncatedCase{"UvOneNumber", "vt 0.5", vector(0.5, 0, 0)},
                      truncatedCase{"UvNoNumbers", "vt\n", vector(0, 0, 0)},
                      truncatedCase{"NormalTwoNumbers", "vn -1 -2\r\n", vector(-1, -2, 0)},
                      truncatedCase{"NormalMinusAtTheEnd", "vn 1 2 -", vector(1, 2, 0)},
                      truncatedCase{"NormalExponentAtTheEnd", "vn 1 2 3e", vector(1, 2, 3)}),
    [](const ::testing::TestParamInfo<truncatedCase>& info) { return std::string(info.param.name); });

TEST(ObjLoaderTruncatedFace, MissingCornersStayDefault)
{
    // A face cut short has fewer than three corners: skipped, and said once.
    const std::string shortFace = "ERROR: Faces with fewer than three corners skipped!\n";
    loaded r = parse(threeOfEach(true) + "f 1/1/1 2/2/2 3/3/3\nf 3/3/3 2/2\nf 1/1/1\nf 3/3/3 2/2");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.text, report("mem.obj", 3, 3, 3, 1) + shortFace + success("mem.obj"));
    ASSERT_EQ(r.obj->polygons.size(), 1u);
    EXPECT_EQ(r.obj->polygons[0].position[2], vector(0, 0, 3));

    loaded bare = parse("f");
    ASSERT_NE(bare.obj, nullptr);
    EXPECT_TRUE(bare.obj->polygons.empty());
    EXPECT_EQ(bare.text, report("mem.obj", 0, 0, 0, 0) + shortFace + success("mem.obj"));

    loaded endInIndex = parse(threeOfEach(true) + "f 1/1/1 2/2/2 3/3/");
    ASSERT_NE(endInIndex.obj, nullptr);
    EXPECT_EQ(endInIndex.obj->polygons[0].texCoord[2], vector(0.3, 0, 0));
    // A corner whose normal index is empty gets a computed one: a lone face's own.
    const polygon& lone = endInIndex.obj->polygons[0];
    EXPECT_NEAR(dot(lone.normal[2], lone.faceNormal), 1.0, 1e-12);
}

// Counting: how many words are exactly each keyword. Independent of where they stand.
struct countCase {
    const char* name;
    std::string source;
    int v, vt, vn, f;
};

class ObjLoaderCounting : public ::testing::TestWithParam<countCase> {};

TEST_P(ObjLoaderCounting, CountsWordsEqualToEachKeyword)
{
    const countCase& c = GetParam();
    loaded r = parse(c.source);
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.obj->vertexCount, c.v);
    EXPECT_EQ(r.obj->uvCount, c.vt);
    EXPECT_EQ(r.obj->normalCount, c.vn);
    EXPECT_EQ(countObjRecords(c.source.data(), c.source.size()).faces, static_cast<size_t>(c.f));
    EXPECT_EQ(r.obj->vertices.size(), static_cast<size_t>(c.v));
    EXPECT_EQ(r.obj->uvs.size(), static_cast<size_t>(c.vt));
    EXPECT_EQ(r.obj->normals.size(), static_cast<size_t>(c.vn));
}

INSTANTIATE_TEST_SUITE_P(
    Words, ObjLoaderCounting,
    ::testing::Values(
        countCase{"Empty", "", 0, 0, 0, 0},
        countCase{"OnlySpaces", " \t\r\n\v\f ", 0, 0, 0, 0},
        countCase{"LookAlikes", "vv V vtt vnn ff F fv v1 vt1 -v #v v#", 0, 0, 0, 0},
        countCase{"EverySpaceCharacterSeparates", "v\tvt\nvn\vf\fv\rvt", 2, 2, 1, 1},
        countCase{"NulIsNotASpace", std::string("v\0 vt", 5), 0, 1, 0, 0},
        countCase{"KeywordsInComments", "# v vt vn f\n# f\n", 1, 1, 1, 2},
        countCase{"OtherStatementsAreSkipped", "o thing\ng group\ns 1\nusemtl stone\nmtllib a.mtl\nl 1 2\n",
                  0, 0, 0, 0},
        // The reading pass swallows the f words as the vertex's numbers; they were counted
        // all the same and their polygons stay at their defaults.
        countCase{"KeywordsAsOperands", "v f f f\n", 1, 0, 0, 3},
        countCase{"ThirdUvCoordinateIsAWord", "vt 0.5 0.25 0.75\n", 0, 1, 0, 0}),
    [](const ::testing::TestParamInfo<countCase>& info) { return std::string(info.param.name); });

TEST(ObjLoaderCounting, KeywordsAtEveryOffsetAroundBlockBoundaries)
{
    const char* keywords[4] = {"v", "vt", "vn", "f"};
    for (size_t pad = 0; pad < 200; ++pad) {
        for (int k = 0; k < 4; ++k) {
            const std::string kw = keywords[k];
            const std::string filler(pad, 'x');
            const std::string blanks(pad, ' ');
            const std::pair<std::string, int> cases[] = {
                {filler + " " + kw, 1},
                {filler + "\n" + kw + "\n", 1},
                {blanks + kw, 1},
                {filler + " " + kw + "\t" + filler, 1},
                {blanks + kw + "x", 0},
                {blanks + "x" + kw, 0},
                {blanks + kw + kw, 0},
            };
            for (const auto& [source, expected] : cases) {
                loaded r = parse(source);
                ASSERT_NE(r.obj, nullptr);
                int got[4] = {r.obj->vertexCount, r.obj->uvCount, r.obj->normalCount,
                              static_cast<int>(countObjRecords(source.data(), source.size()).faces)};
                for (int j = 0; j < 4; ++j)
                    EXPECT_EQ(got[j], j == k ? expected : 0)
                        << "pad " << pad << ", source ending in '" << source.substr(source.size() > 8 ? source.size() - 8 : 0)
                        << "', count of " << keywords[j];
            }
        }
    }
}

bool plainSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Words split the plain way, for comparison with the loader's counts.
void countWordsSimply(const std::string& s, int counts[4])
{
    const char* keywords[4] = {"v", "vt", "vn", "f"};
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && plainSpace(s[i]))
            ++i;
        size_t start = i;
        while (i < s.size() && !plainSpace(s[i]))
            ++i;
        std::string word = s.substr(start, i - start);
        for (int k = 0; k < 4; ++k)
            if (word == keywords[k])
                ++counts[k];
    }
}

TEST(ObjLoaderCounting, RandomTextAgreesWithAPlainWordSplit)
{
    std::mt19937 random(12345);
    const char alphabet[] = {'v', 't', 'n', 'f', 'x', ' ', '\n', '\t', '\r', '\v', '\f', '\0', '1', '/'};
    for (int trial = 0; trial < 300; ++trial) {
        size_t length = random() % 700;
        std::string s;
        for (size_t i = 0; i < length; ++i) {
            // Mostly keyword letters and spaces, so that keywords are common.
            s += alphabet[random() % sizeof alphabet];
        }
        int expected[4] = {0, 0, 0, 0};
        countWordsSimply(s, expected);
        loaded r = parse(s);
        ASSERT_NE(r.obj, nullptr);
        EXPECT_EQ(r.obj->vertexCount, expected[0]) << "trial " << trial;
        EXPECT_EQ(r.obj->uvCount, expected[1]) << "trial " << trial;
        EXPECT_EQ(r.obj->normalCount, expected[2]) << "trial " << trial;
        EXPECT_EQ(countObjRecords(s.data(), s.size()).faces, static_cast<size_t>(expected[3])) << "trial " << trial;
    }
}

TEST(ObjLoaderRecords, UvsHaveZeroDepthAndAThirdCoordinateIsIgnored)
{
    loaded r = parse("vt 0.5 0.25 0.75\nv 1 2 3 4\nvn 0 0 1\n");
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.obj->uvs[0], vector(0.5, 0.25, 0));
    EXPECT_EQ(r.obj->vertices[0], vector(1, 2, 3));
    EXPECT_EQ(r.obj->vertices[0].w, 1.0);
    EXPECT_EQ(r.obj->normals[0], vector(0, 0, 1));
}

TEST(ObjLoaderRecords, LineEndingsAndSpacingDoNotMatter)
{
    const std::string unix = "v 1 2 3\nvt 0.5 0.5\nvn 0 1 0\nf 1/1/1 1/1/1 1/1/1\n";
    const std::string windows = "v 1 2 3\r\nvt 0.5 0.5\r\nvn 0 1 0\r\nf 1/1/1 1/1/1 1/1/1\r\n";
    // A face's corners share its line; other records may run across lines.
    const std::string ragged = "  v\t1 \t 2\f3\v\nvt 0.5\n\n0.5 vn 0 1 0\nf\f1/1/1 1/1/1\t1/1/1";
    loaded a = parse(unix), b = parse(windows), c = parse(ragged);
    for (const loaded* r : {&a, &b, &c}) {
        ASSERT_NE(r->obj, nullptr);
        EXPECT_EQ(r->text, report("mem.obj", 1, 1, 1, 1) + success("mem.obj"));
        EXPECT_EQ(r->obj->polygons[0].position[1], vector(1, 2, 3));
        EXPECT_EQ(r->obj->polygons[0].texCoord[2], vector(0.5, 0.5, 0));
        EXPECT_EQ(r->obj->polygons[0].normal[0], vector(0, 1, 0));
    }
}

TEST(ObjLoaderRecords, TheMapSizeReachesTheObject)
{
    loaded r = parse(triangleWithNormals, 8, 4);
    ASSERT_NE(r.obj, nullptr);
    EXPECT_EQ(r.obj->finalBitmap->width, 8);
    EXPECT_EQ(r.obj->finalBitmap->height, 4);
    EXPECT_EQ(r.obj->alphaMap.outer(), 8);
    EXPECT_EQ(r.obj->normalsMap.outer(), 4);
    // The loader leaves the later stages' data alone.
    EXPECT_TRUE(r.obj->shadingPolygons.empty());
    EXPECT_TRUE(r.obj->edges.empty());
    EXPECT_EQ(r.obj->edgeCount, 0);
}

// Each word must convert exactly as strtod converts it.
class ObjLoaderNumbers : public ::testing::TestWithParam<std::string> {};

TEST_P(ObjLoaderNumbers, EqualStrtodInEveryPosition)
{
    const std::string& word = GetParam();
    double expected = std::strtod(word.c_str(), nullptr);
    // First in the middle of the data, then as the data's very last bytes.
    loaded middle = parse("v " + word + " 7 8\nvt 9 " + word + "\n");
    loaded last = parse("vn 1 2 " + word);
    ASSERT_NE(middle.obj, nullptr);
    ASSERT_NE(last.obj, nullptr);
    EXPECT_TRUE(sameBits(middle.obj->vertices[0].x, expected)) << middle.obj->vertices[0].x << " vs " << expected;
    EXPECT_EQ(middle.obj->vertices[0].y, 7.0);
    EXPECT_TRUE(sameBits(middle.obj->uvs[0].y, expected)) << middle.obj->uvs[0].y << " vs " << expected;
    EXPECT_TRUE(sameBits(last.obj->normals[0].z, expected)) << last.obj->normals[0].z << " vs " << expected;
}

INSTANTIATE_TEST_SUITE_P(
    Words, ObjLoaderNumbers,
    ::testing::Values(
        "0", "-0", "0.0", "-0.0", "1", "+1.5", "-1.5", "0.1", "0.123456", "-1.234567", ".5", "-.5", "5.",
        "+.5", "1e5", "1E5", "1e+5", "1e-5", "-1.5E-3", "1e999", "-1e999", "1e-400", "-1e-400",
        "4.9e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "2.2250738585072011e-308",
        "2.2250738585072014e-308", "1.7976931348623157e308", "1.7976931348623159e308",
        "9007199254740993", "9007199254740992.5", "1e23", "8.589973e9", "0.30000000000000004",
        "3.14159265358979323846264338327950288419716939937510582097494459230781640628620899",
        "0.000000000000000000000000000000000000000000000000000000000000000000000001",
        "123456789012345678901234567890123456789012345678901234567890.123456789",
        "7.2057594037927933e16", "1e400000000000000000000", "-1e-400000000000000000000",
        "0x1p3", "0X1.8P1", "-0x10", "0x", "inf", "-inf", "+inf", "INF", "infinity", "-Infinity",
        "infinit", "nan", "-nan", "NaN", "nan(123)", "nanx", "1.5abc", "1.5e3x", "1e", "1e+", "1e-x",
        "-", "+", ".", "-.", "..5", "1..5", "abc", "1,5", "1_000", "--1", "+-1", "0001.000", "00.00e00",
        "1/2/3", "1e0000000000000000000000000000000000000001",
        std::string(300, '1'), "0." + std::string(400, '0') + "1", std::string(200, '9') + "e-200"));

TEST(ObjLoaderNumbersRandom, DecimalWordsOfEveryShapeEqualStrtod)
{
    std::mt19937_64 random(2024);
    std::string source;
    std::vector<std::string> words;
    for (int i = 0; i < 30000; ++i) {
        std::string w;
        switch (random() % 4) {
        case 0: w = "-"; break;
        case 1: w = "+"; break;
        default: break;
        }
        int before = static_cast<int>(random() % 21);
        int after = static_cast<int>(random() % 26);
        for (int d = 0; d < before; ++d)
            w += static_cast<char>('0' + random() % 10);
        if (random() % 5 != 0)
            w += '.';
        for (int d = 0; d < after; ++d)
            w += static_cast<char>('0' + random() % 10);
        if (random() % 6 == 0)
            w += "e" + std::to_string(static_cast<int>(random() % 700) - 350);
        words.push_back(w);
        source += "vn " + w + " 0 0\n";
    }
    loaded r = parse(source);
    ASSERT_NE(r.obj, nullptr);
    ASSERT_EQ(r.obj->normals.size(), words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        double expected = std::strtod(words[i].c_str(), nullptr);
        ASSERT_TRUE(sameBits(r.obj->normals[i].x, expected))
            << "'" << words[i] << "': " << r.obj->normals[i].x << " vs " << expected;
    }
}

TEST(ObjLoaderFailure, HugeMapSizeMeansNoObject)
{
    loaded r = parse(triangleWithNormals, INT_MAX, INT_MAX);
    EXPECT_EQ(r.obj, nullptr);
    EXPECT_EQ(r.text, "ERROR: New object could not be created!\n");
}

TEST(ObjLoaderFile, LoadsWhatTheSameBytesParseTo)
{
    const std::string source = threeOfEach(true) + "f 1/1/1 2/2/2 3/3/3\nf 3/3/3 2/2/2 9/1/1\n";
    tempFile file(source);
    consoleCapture console;
    std::unique_ptr<object> fromFile = loadObject(file.path, 2, 2);
    std::string text = console.text();
    ASSERT_NE(fromFile, nullptr);
    EXPECT_EQ(text, report(file.path, 3, 3, 3, 2) + vertexMsg + success(file.path));
    loaded fromMemory = parse(source, 2, 2);
    ASSERT_EQ(fromFile->polygons.size(), fromMemory.obj->polygons.size());
    for (size_t i = 0; i < fromFile->polygons.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(fromFile->polygons[i].position[k], fromMemory.obj->polygons[i].position[k]);
            EXPECT_EQ(fromFile->polygons[i].texCoord[k], fromMemory.obj->polygons[i].texCoord[k]);
            EXPECT_EQ(fromFile->polygons[i].normal[k], fromMemory.obj->polygons[i].normal[k]);
        }
    EXPECT_EQ(fromFile->finalBitmap->width, 2);
}

TEST(ObjLoaderFile, EmptyFileGivesAnEmptyObject)
{
    tempFile file("");
    consoleCapture console;
    std::unique_ptr<object> obj = loadObject(file.path, 0, 0);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(console.text(), report(file.path, 0, 0, 0, 0) + success(file.path));
}

TEST(ObjLoaderFile, MissingFileIsReportedAndGivesNoObject)
{
    const std::string path = (std::filesystem::temp_directory_path() / "no such folder" / "mesh.obj").string();
    consoleCapture console;
    EXPECT_EQ(loadObject(path, 16, 16), nullptr);
    EXPECT_EQ(console.text(), "ERROR: OBJ file '" + path + "' could not be opened!\n");
}

TEST(ObjLoaderFile, FolderIsReportedAsUnreadable)
{
    const std::string path = std::filesystem::temp_directory_path().string();
    consoleCapture console;
    EXPECT_EQ(loadObject(path, 16, 16), nullptr);
    EXPECT_EQ(console.text(), "ERROR: OBJ file '" + path + "' could not be opened!\n");
}

TEST(ObjLoaderFile, HugeMapSizeIsReportedAfterTheFileOpened)
{
    tempFile file(triangleWithNormals);
    consoleCapture console;
    EXPECT_EQ(loadObject(file.path, INT_MAX, INT_MAX), nullptr);
    EXPECT_EQ(console.text(), "ERROR: New object could not be created!\n");
}

// The real meshes, read where they lie.
std::unique_ptr<object> loadShared(const std::string& name, std::string& text)
{
    consoleCapture console;
    std::unique_ptr<object> obj = loadObject(std::string(TESTDATA_DIR) + "/meshes/" + name, 0, 0);
    text = console.text();
    return obj;
}

// The file's records and faces split the plain way, as an independent reference.
struct plainMesh {
    std::vector<std::vector<double>> v, vt, vn;
    std::vector<std::vector<std::vector<int>>> f; // per face, per corner: v, vt, vn (0 absent)
};

plainMesh readPlainly(const std::string& path)
{
    plainMesh m;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "v" || key == "vt" || key == "vn") {
            std::vector<double> xs;
            std::string w;
            while (words >> w)
                xs.push_back(std::strtod(w.c_str(), nullptr));
            (key == "v" ? m.v : key == "vt" ? m.vt : m.vn).push_back(xs);
        } else if (key == "f") {
            std::vector<std::vector<int>> corners;
            std::string w;
            while (words >> w) {
                std::vector<int> idx(3, 0);
                std::sscanf(w.c_str(), "%d/%d/%d", &idx[0], &idx[1], &idx[2]);
                corners.push_back(idx);
            }
            m.f.push_back(corners);
        }
    }
    return m;
}

double length(const vector& a) { return std::sqrt(dot(a, a)); }

TEST(ObjLoaderRealMeshes, SpotLoadsWithUvsAndNoNormals)
{
    REQUIRE_TESTDATA();
    std::string text;
    std::unique_ptr<object> obj = loadShared("spot.obj", text);
    ASSERT_NE(obj, nullptr);
    const std::string path = std::string(TESTDATA_DIR) + "/meshes/spot.obj";
    EXPECT_EQ(text, report(path, 2930, 3225, 0, 5856) + computedNormals(3 * 5856) + success(path));

    plainMesh plain = readPlainly(path);
    ASSERT_EQ(plain.f.size(), 5856u);
    vector areaSum;
    for (size_t i = 0; i < obj->polygons.size(); ++i) {
        const polygon& p = obj->polygons[i];
        for (int k = 0; k < 3; ++k) {
            const std::vector<int>& c = plain.f[i][k];
            const std::vector<double>& pos = plain.v[c[0] - 1];
            const std::vector<double>& uv = plain.vt[c[1] - 1];
            ASSERT_EQ(p.position[k], vector(pos[0], pos[1], pos[2])) << "face " << i;
            ASSERT_EQ(p.texCoord[k], vector(uv[0], uv[1], 0)) << "face " << i;
        }
        double len = length(p.faceNormal);
        EXPECT_TRUE(len == 0.0 || std::fabs(len - 1.0) < 1e-12) << "face " << i << " length " << len;
        areaSum = areaSum + cross(p.position[1] - p.position[0], p.position[2] - p.position[0]);
    }
    // A closed surface: its oriented face areas cancel.
    EXPECT_LT(length(areaSum), 1e-9);
}

TEST(ObjLoaderRealMeshes, GazeboLoadsWithNormalsThatAgreeWithItsFaces)
{
    REQUIRE_TESTDATA();
    std::string text;
    std::unique_ptr<object> obj = loadShared("gazebo.obj", text);
    ASSERT_NE(obj, nullptr);
    const std::string path = std::string(TESTDATA_DIR) + "/meshes/gazebo.obj";
    EXPECT_EQ(text, report(path, 1568, 1568, 1568, 730) + success(path));

    plainMesh plain = readPlainly(path);
    ASSERT_EQ(plain.f.size(), 730u);
    for (size_t i = 0; i < obj->polygons.size(); ++i) {
        const polygon& p = obj->polygons[i];
        double len = length(p.faceNormal);
        EXPECT_TRUE(len == 0.0 || std::fabs(len - 1.0) < 1e-12) << "face " << i << " length " << len;
        for (int k = 0; k < 3; ++k) {
            const std::vector<double>& n = plain.vn[plain.f[i][k][2] - 1];
            ASSERT_EQ(p.normal[k], vector(n[0], n[1], n[2])) << "face " << i;
            // The exporter's normals point the way the winding does.
            EXPECT_GT(dot(p.faceNormal, normalised(p.normal[k])), 0.9999) << "face " << i;
        }
    }
}

} // namespace
