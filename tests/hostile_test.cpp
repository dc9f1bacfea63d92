#include "core/bitmap.h"
#include "core/console.h"
#include "mesh/object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Damaged, lying and odd files, each with the one answer the readers must give. The files
// live in tests/hostile/; every one of them is named in a table here.

namespace {

namespace fs = std::filesystem;

const std::string hostile = HOSTILE_DIR;

std::set<std::string> namesIn(const std::string& dir, const std::string& extension)
{
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        if (e.path().extension() == extension)
            names.insert(e.path().filename().string());
    return names;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// --- BMP ---------------------------------------------------------------------------------

struct bmpCase {
    const char* file;
    const char* message; // "{}" stands for the path; none for a file that must load
    int width = 0, height = 0, bytesPerPixel = 0;
};

const bmpCase bmpCases[] = {
    {"empty.bmp", "ERROR: Not a valid BMP file!\n"},
    {"one_byte.bmp", "ERROR: Not a valid BMP file!\n"},
    {"other_letters.bmp", "ERROR: Not a valid BMP file!\n"},
    {"os2_array_letters.bmp", "ERROR: Not a valid BMP file!\n"},
    {"cut_in_file_header.bmp", "ERROR: BMP file '{}' is truncated!\n"},
    {"cut_in_info_header.bmp", "ERROR: BMP file '{}' is truncated!\n"},
    {"cut_in_pixels.bmp", "ERROR: BMP file '{}' is truncated!\n"},
    {"size_image_too_small.bmp",
     "ERROR: BMP file '{}' declares 10 bytes of pixels where 4 x 4 pixels take 48!\n"},
    {"size_image_too_large.bmp",
     "ERROR: BMP file '{}' declares 1000000 bytes of pixels where 4 x 4 pixels take 48!\n"},
    {"size_image_all_ones.bmp",
     "ERROR: BMP file '{}' declares 4294967295 bytes of pixels where 4 x 4 pixels take 48!\n"},
    // Rows written without their padding to 4 bytes.
    {"unpadded_rows.bmp",
     "ERROR: BMP file '{}' declares 18 bytes of pixels where 3 x 2 pixels take 24!\n"},
    {"offset_past_end.bmp", "ERROR: BMP file '{}' has its pixels at offset 4294967295, outside the file!\n"},
    {"offset_zero.bmp", "ERROR: BMP file '{}' has its pixels at offset 0, outside the file!\n"},
    {"offset_inside_info_header.bmp", "ERROR: BMP file '{}' has its pixels at offset 40, outside the file!\n"},
    {"offset_leaves_pixels_short.bmp", "ERROR: BMP file '{}' is truncated!\n"},
    {"width_zero.bmp", "ERROR: BMP file '{}' has an invalid size of 0 x 4 pixels!\n"},
    {"width_negative.bmp", "ERROR: BMP file '{}' has an invalid size of -4 x 4 pixels!\n"},
    {"height_zero.bmp", "ERROR: BMP file '{}' has an invalid size of 4 x 0 pixels!\n"},
    {"height_most_negative.bmp", "ERROR: BMP file '{}' has an invalid size of 4 x -2147483648 pixels!\n"},
    // 30000 x 20000 pixels claimed by a file of 102 bytes: refused before any allocation.
    {"sizes_huge_file_small.bmp", "ERROR: BMP file '{}' is truncated!\n"},
    {"sizes_over_2gib.bmp", "ERROR: BMP file '{}' is too large (65536 x 65536 pixels)!\n"},
    {"sizes_overflow.bmp", "ERROR: BMP file '{}' is too large (2147483647 x 2147483647 pixels)!\n"},
    {"sizes_stride_overflow.bmp", "ERROR: BMP file '{}' is too large (2147483647 x 2147483647 pixels)!\n"},
    {"bits_0.bmp", "ERROR: BMP file '{}' has 0 bits per pixel; only 1, 4, 8, 16, 24 and 32 are supported!\n"},
    {"bits_48.bmp", "ERROR: BMP file '{}' has 48 bits per pixel; only 1, 4, 8, 16, 24 and 32 are supported!\n"},
    {"bits_65535.bmp", "ERROR: BMP file '{}' has 65535 bits per pixel; only 1, 4, 8, 16, 24 and 32 are supported!\n"},
    // Bit fields whose masks would lie where the pixels start.
    {"compressed_bitfields.bmp", "ERROR: BMP file '{}' has its pixels at offset 54, outside the file!\n"},
    {"compressed_jpeg_code.bmp",
     "ERROR: BMP file '{}' uses compression 4 with 24 bits per pixel, which is not supported!\n"},
    // A 40-byte header's fields in a 12-byte one: height 0 and 4 planes.
    {"header_os2_12_bytes.bmp", "ERROR: BMP file '{}' has an unsupported header!\n"},
    {"header_size_zero.bmp", "ERROR: BMP file '{}' has an unsupported header!\n"},
    {"header_size_huge.bmp", "ERROR: BMP file '{}' has an unsupported header!\n"},
    {"planes_zero.bmp", "ERROR: BMP file '{}' has an unsupported header!\n"},
    {"palette_index_past_end.bmp", "ERROR: BMP file '{}' has a pixel outside its palette of 2 colours!\n"},
    {"palette_too_many_colours.bmp",
     "ERROR: BMP file '{}' has a palette of 300 colours; at most 256 are allowed!\n"},
    // Sound files in unusual shapes.
    {"size_image_zero.bmp", nullptr, 4, 4, 3},
    {"height_negative_top_down.bmp", nullptr, 4, 4, 3},
    {"palette_8bit.bmp", nullptr, 5, 3, 3},
    {"bits_1.bmp", nullptr, 8, 2, 3},
    {"bits_4.bmp", nullptr, 8, 2, 3},
    {"bits_16.bmp", nullptr, 4, 2, 3},
    {"compressed_rle8.bmp", nullptr, 4, 2, 3},
    {"palette_before_24bit.bmp", nullptr, 4, 4, 3},
    {"rgb32.bmp", nullptr, 2, 2, 4},
    {"trailing_bytes.bmp", nullptr, 4, 4, 3},
};

TEST(HostileBmp, EachFileGivesItsOneLineOrLoads)
{
    std::set<std::string> untested = namesIn(hostile + "/bmp", ".bmp");
    for (const bmpCase& k : bmpCases) {
        SCOPED_TRACE(k.file);
        untested.erase(k.file);
        const std::string path = hostile + "/bmp/" + k.file;
        consoleCapture capture;
        std::unique_ptr<bitmap> b = readBmp(path);
        if (k.message) {
            EXPECT_EQ(b, nullptr);
            EXPECT_EQ(capture.text(), replaceAll(k.message, "{}", path));
            continue;
        }
        EXPECT_EQ(capture.text(), "");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width, k.width);
        EXPECT_EQ(b->height, k.height);
        EXPECT_EQ(b->bytesPerPixel, k.bytesPerPixel);
    }
    EXPECT_TRUE(untested.empty()) << "files without a case, e.g. " << *untested.begin();
}

TEST(HostileBmp, SoundOddFilesReadTheSamePixels)
{
    consoleCapture quiet;
    // The generator gives every pixel byte its own pattern; these are the 4 x 4 picture in
    // other arrangements and must agree with it.
    std::unique_ptr<bitmap> plain = readBmp(hostile + "/bmp/size_image_zero.bmp");
    ASSERT_NE(plain, nullptr);
    for (const char* same : {"height_negative_top_down.bmp", "palette_before_24bit.bmp", "trailing_bytes.bmp"}) {
        SCOPED_TRACE(same);
        std::unique_ptr<bitmap> other = readBmp(hostile + "/bmp/" + same);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(0, std::memcmp(other->pixels.get(), plain->pixels.get(), plain->byteCount()));
    }
}

// The generator's palettes hold entry k = (29k, 13k, 7k) mod 256; the indices of each file,
// bottom row first, as its pixel bytes spell them.
TEST(HostileBmp, PaletteFilesShowTheirPalettesColours)
{
    const struct {
        const char* file;
        std::vector<std::vector<int>> indices;
    } cases[] = {
        {"palette_8bit.bmp", {{0, 1, 2, 3, 4}, {1, 2, 3, 4, 5}, {2, 3, 4, 5, 6}}},
        {"bits_1.bmp", {{0, 0, 0, 0, 0, 1, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 0}}}, // 0x05, 0x10
        {"bits_4.bmp", {{0, 5, 2, 10, 4, 15, 7, 4}, {1, 0, 3, 5, 5, 10, 7, 15}}},
        {"compressed_rle8.bmp", {{1, 1, 1, 1}, {2, 2, 2, 2}}}, // 4 x 1, row end, 4 x 2, the end
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.file);
        consoleCapture capture;
        std::unique_ptr<bitmap> b = readBmp(hostile + "/bmp/" + k.file);
        ASSERT_NE(b, nullptr);
        for (int y = 0; y < b->height; ++y)
            for (int x = 0; x < b->width; ++x) {
                int i = k.indices[static_cast<size_t>(y)][static_cast<size_t>(x)];
                EXPECT_EQ(b->pixelAt(x, y), colour((29 * i) % 256, (13 * i) % 256, 7 * i, 255)) << x << "," << y;
            }
    }
    // 16-bit pixels 0x2a05, 0x744f / 0x3510 are 5-5-5 fields, each widened by repeating its bits.
    consoleCapture capture;
    std::unique_ptr<bitmap> b = readBmp(hostile + "/bmp/bits_16.bmp");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->pixelAt(0, 0), colour(82, 132, 41, 255));
    EXPECT_EQ(b->pixelAt(1, 0), colour(239, 16, 123, 255));
    EXPECT_EQ(b->pixelAt(0, 1), colour(107, 66, 132, 255));
}

// A child process with a time limit, for reads that used to run without end.
template <typename F>
void inChildWithin(unsigned seconds, F body)
{
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(seconds);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was stopped by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HostileBmp, EndlessDeviceIsNotReadWhole)
{
    if (access("/dev/zero", R_OK) != 0)
        GTEST_SKIP() << "no /dev/zero";
    inChildWithin(20, [] {
        consoleCapture capture;
        bool none = readBmp("/dev/zero") == nullptr;
        return none && capture.text() == "ERROR: Not a valid BMP file!\n";
    });
}

TEST(HostileBmp, HugeFileIsReadOnlyAsFarAsItsImage)
{
    // A sound 4 x 4 image followed by 64 GiB of nothing (a sparse file: no disk is used).
    std::string path = testing::TempDir() + "hostile_sparse_" + std::to_string(getpid()) + ".bmp";
    {
        consoleCapture quiet;
        bitmap b(4, 4, 3);
        std::memset(b.pixels.get(), 7, b.byteCount());
        ASSERT_TRUE(writeBmp(path, &b));
    }
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    bool grown = ftruncate(fd, off_t(64) << 30) == 0;
    close(fd);
    if (!grown) {
        std::remove(path.c_str());
        GTEST_SKIP() << "the file system takes no sparse files";
    }
    inChildWithin(20, [&path] {
        consoleCapture capture;
        std::unique_ptr<bitmap> b = readBmp(path);
        return b && b->width == 4 && b->pixels[47] == 7 && capture.text().empty();
    });
    std::remove(path.c_str());
}

// --- OBJ ---------------------------------------------------------------------------------

const char* const vertexMsg = "ERROR: Vertex index is out of range!\n";
const char* const uvMsg = "ERROR: UV index is out of range!\n";
const char* const normalMsg = "ERROR: Normal index is out of range!\n";
const char* const shortFaceMsg = "ERROR: Faces with fewer than three corners skipped!\n";

std::string computedMsg(int corners)
{
    return "NORMALS COMPUTED: " + std::to_string(corners) + " corners without a normal in the file\n";
}

struct objCase {
    const char* file;
    int vertices, uvs, normals, polygons;
    std::vector<std::string> errors; // in order, between the report and the closing line
};

const std::vector<objCase>& objCases()
{
    static const std::vector<objCase> cases = {
        // Indices: too large for any list (and for an int), 0, negative beyond the start.
        {"index_huge.obj", 3, 3, 1, 2, {vertexMsg}},
        {"index_zero.obj", 3, 3, 1, 1, {vertexMsg, uvMsg, normalMsg}},
        {"index_negative_too_far.obj", 3, 3, 1, 1, {vertexMsg, uvMsg, normalMsg}},
        {"index_negative_sound.obj", 3, 3, 1, 1, {}},
        {"index_past_end.obj", 3, 3, 1, 1, {vertexMsg, uvMsg, normalMsg}},
        {"index_normal_without_normals.obj", 3, 3, 0, 1, {normalMsg, computedMsg(3)}},
        // Numbers: missing (the next word is taken, as a word-by-word reader must), not
        // numbers at all, beyond the range of a double.
        {"numbers_missing.obj", 2, 1, 1, 0, {shortFaceMsg}},
        {"numbers_non_numeric.obj", 1, 1, 1, 2, {computedMsg(5)}},
        {"numbers_out_of_range.obj", 3, 3, 0, 1, {computedMsg(3)}},
        // Bytes: NUL inside words (gluing a face's last two corners), CR LF and CR alone, no
        // final line break.
        {"nul_bytes.obj", 3, 3, 1, 0, {shortFaceMsg}},
        {"line_ends_crlf.obj", 3, 3, 1, 1, {}},
        {"line_ends_cr_only.obj", 3, 3, 1, 1, {}},
        {"no_final_line_break.obj", 3, 3, 1, 1, {}},
        // Length: a line of 20000 bytes; words of 5000 digits.
        {"long_line.obj", 3, 3, 1, 1, {}},
        {"long_words.obj", 3, 3, 1, 1, {vertexMsg}},
        // Faces of 1, 2 and 9 corners, and an "f" with nothing after it.
        {"face_one_corner.obj", 3, 3, 1, 1, {shortFaceMsg}},
        {"face_two_corners.obj", 3, 3, 1, 1, {shortFaceMsg}},
        {"face_nine_corners.obj", 9, 9, 1, 7, {}},
        {"face_no_corners_at_end.obj", 3, 3, 1, 1, {shortFaceMsg}},
        // Keywords without records, in other cases and glued to their numbers.
        {"keywords_only.obj", 4, 3, 4, 4, {computedMsg(3)}},
        {"keywords_case_and_glued.obj", 3, 3, 1, 0, {}},
        {"no_uvs.obj", 3, 0, 0, 1, {computedMsg(3)}},
        {"empty.obj", 0, 0, 0, 0, {}},
        {"whitespace_only.obj", 0, 0, 0, 0, {}},
        {"binary_noise.obj", 0, 0, 0, 0, {}},
    };
    return cases;
}

std::string objReport(const std::string& path, const objCase& k)
{
    return "Object Data: \n\nFILE NAME: " + path + "\nVERTICES: " + std::to_string(k.vertices) +
           "\nUVS: " + std::to_string(k.uvs) + "\nNORMALS: " + std::to_string(k.normals) +
           "\nPOLYGONS: " + std::to_string(k.polygons) + "\n\n";
}

std::unique_ptr<object> loadHostileObj(const std::string& name, std::string* text = nullptr)
{
    consoleCapture capture;
    std::unique_ptr<object> obj = loadObject(hostile + "/obj/" + name, 4, 4);
    if (text)
        *text = capture.text();
    return obj;
}

TEST(HostileObj, EachFileLoadsWithItsReportAndItsErrorLines)
{
    std::set<std::string> untested = namesIn(hostile + "/obj", ".obj");
    for (const objCase& k : objCases()) {
        SCOPED_TRACE(k.file);
        untested.erase(k.file);
        const std::string path = hostile + "/obj/" + k.file;
        std::string text;
        std::unique_ptr<object> obj = loadHostileObj(k.file, &text);
        ASSERT_NE(obj, nullptr) << text;
        std::string expected = objReport(path, k);
        for (const std::string& e : k.errors)
            expected += e;
        expected += "Object '" + path + "' loaded successfully\n";
        EXPECT_EQ(text, expected);
        EXPECT_EQ(obj->vertices.size(), static_cast<size_t>(k.vertices));
        EXPECT_EQ(obj->polygons.size(), static_cast<size_t>(k.polygons));
    }
    EXPECT_TRUE(untested.empty()) << "files without a case, e.g. " << *untested.begin();
}

// The same triangle written plainly, with CR LF, CR alone, no final break, a long comment line
// or negative indices.
TEST(HostileObj, OddlyWrittenTrianglesAreTheSameTriangle)
{
    std::unique_ptr<object> plain = loadHostileObj("no_final_line_break.obj");
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(plain->polygonCount, 1);
    const polygon& want = plain->polygons[0];
    EXPECT_EQ(want.position[1], vector(1, 0, 0));
    EXPECT_EQ(want.faceNormal, vector(0, 0, 1));
    for (const char* same : {"line_ends_crlf.obj", "line_ends_cr_only.obj", "long_line.obj",
                             "index_negative_sound.obj"}) {
        SCOPED_TRACE(same);
        std::unique_ptr<object> other = loadHostileObj(same);
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(other->polygonCount, 1);
        const polygon& got = other->polygons[0];
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(got.position[k], want.position[k]) << k;
            EXPECT_EQ(got.texCoord[k], want.texCoord[k]) << k;
            EXPECT_EQ(got.normal[k], want.normal[k]) << k;
        }
    }
}

TEST(HostileObj, OutOfRangeIndicesLeaveDefaultsAndSoundCornersStay)
{
    std::unique_ptr<object> obj = loadHostileObj("index_past_end.obj");
    ASSERT_NE(obj, nullptr);
    const polygon& p = obj->polygons[0];
    // "f 4/1/1 1/4/1 1/1/2": each corner has exactly one index past its list.
    EXPECT_EQ(p.normal[0], vector(0, 0, 1));
    EXPECT_EQ(p.normal[1], vector(0, 0, 1));
    EXPECT_EQ(p.normal[2], vector(0, 0, 0));
}

TEST(HostileObj, LongFacesTileTheirOutlineAndShortOnesLeaveTheNextAlone)
{
    // Nine corners in the z = 0 plane whose outline crosses itself: seven triangles made
    // only of its corners, whose signed areas add up to the outline's.
    std::unique_ptr<object> nine = loadHostileObj("face_nine_corners.obj");
    ASSERT_NE(nine, nullptr);
    double outline = 0, covered = 0;
    for (size_t k = 0; k < 9; ++k) {
        const vector& a = nine->vertices[k];
        const vector& b = nine->vertices[(k + 1) % 9];
        outline += a.x * b.y - b.x * a.y;
    }
    for (const polygon& p : nine->polygons) {
        for (const vector& corner : p.position)
            EXPECT_NE(std::find(nine->vertices.begin(), nine->vertices.end(), corner), nine->vertices.end());
        covered += cross(p.position[1] - p.position[0], p.position[2] - p.position[0]).z;
    }
    EXPECT_DOUBLE_EQ(covered, outline);

    // "f 1/1/1" then a full face: the short one is skipped, the full one read whole.
    std::unique_ptr<object> one = loadHostileObj("face_one_corner.obj");
    ASSERT_NE(one, nullptr);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(one->polygons[0].position[k], one->vertices[static_cast<size_t>(k)]) << k;
}

TEST(HostileObj, NumbersBeyondDoubleBecomeInfinities)
{
    std::unique_ptr<object> obj = loadHostileObj("numbers_out_of_range.obj");
    ASSERT_NE(obj, nullptr);
    EXPECT_TRUE(std::isinf(obj->vertices[0].x) && obj->vertices[0].x > 0);
    EXPECT_TRUE(std::isinf(obj->vertices[0].y) && obj->vertices[0].y < 0);
    EXPECT_EQ(obj->vertices[0].z, 0.0);
    EXPECT_TRUE(std::isnan(obj->vertices[1].x));

    std::unique_ptr<object> words = loadHostileObj("long_words.obj");
    ASSERT_NE(words, nullptr);
    EXPECT_TRUE(std::isinf(words->vertices[0].x));
    EXPECT_EQ(words->vertices[0].y, 0.0); // 1e-5001 underflows
    EXPECT_TRUE(std::isinf(words->vertices[0].z) && words->vertices[0].z < 0);
}

TEST(HostileObj, MapSizeBeyondTheLimitIsRefusedBeforeAllocating)
{
    const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";
    struct sizes {
        int w, h;
        bool made;
    } cases[] = {
        {5000, 5000, false},         // 25 million texels, some 2 GB of maps
        {65536, 65536, false},       // the product wraps a 32-bit int to 0
        {100000, 100000, false},     // 80 GB of coverage table alone
        {4096, 1, true},
        {1, 4096, true},
    };
    for (const sizes& k : cases) {
        SCOPED_TRACE(std::to_string(k.w) + " x " + std::to_string(k.h));
        consoleCapture capture;
        std::unique_ptr<object> obj = parseObject(triangle.data(), triangle.size(), "mem.obj", k.w, k.h);
        EXPECT_EQ(obj != nullptr, k.made);
        if (!k.made) {
            EXPECT_EQ(capture.text(), "ERROR: New object could not be created!\n");
        }
    }
}

TEST(HostileObj, FileOfBareKeywordsTooBigForMemoryIsRefused)
{
    // Two bytes of file per face, but two polygons and three edges of memory once prepared.
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    ASSERT_GT(pages, 0);
    double memory = static_cast<double>(pages) * static_cast<double>(pageSize);
    size_t faces = static_cast<size_t>(memory / (2 * sizeof(polygon) + 3 * sizeof(edge))) + 1000;
    if (faces * 2 > (size_t(512) << 20))
        GTEST_SKIP() << "this machine's memory would need a text of over 512 MB";
    std::string text(faces * 2, '\n');
    for (size_t i = 0; i < faces; ++i)
        text[2 * i] = 'f';
    consoleCapture capture;
    std::unique_ptr<object> obj = parseObject(text.data(), text.size(), "mem.obj", 4, 4);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(capture.text(), "ERROR: New object could not be created!\n");
}

} // namespace
