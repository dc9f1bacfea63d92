#include "core/bitmap.h"
#include "core/console.h"

#include "tests/testdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

namespace {

const std::string suite = std::string(TESTDATA_DIR) + "/bmpsuite/";

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "bitmap_test_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::unique_ptr<bitmap> patterned(int w, int h, int bpp)
{
    auto b = std::make_unique<bitmap>(w, h, bpp);
    for (size_t i = 0; i < b->byteCount(); ++i)
        b->pixels[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

// Writes b, reads it back and compares every pixel byte; returns the file's bytes.
std::vector<uint8_t> roundTrip(const bitmap& b)
{
    std::string path = tempPath("roundtrip.bmp");
    consoleCapture quiet;
    EXPECT_TRUE(writeBmp(path, &b));
    std::vector<uint8_t> bytes = fileBytes(path);
    std::unique_ptr<bitmap> back = readBmp(path);
    std::remove(path.c_str());
    EXPECT_EQ(quiet.text(), "");
    if (!back)
        return bytes;
    EXPECT_EQ(back->width, b.width);
    EXPECT_EQ(back->height, b.height);
    EXPECT_EQ(back->bytesPerPixel, b.bytesPerPixel);
    EXPECT_EQ(std::vector<uint8_t>(back->pixels.get(), back->pixels.get() + back->byteCount()),
              std::vector<uint8_t>(b.pixels.get(), b.pixels.get() + b.byteCount()));
    return bytes;
}

uint32_t le32(const std::vector<uint8_t>& d, size_t at)
{
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

void put32(std::vector<uint8_t>& d, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + i] = (v >> (8 * i)) & 0xFF;
}

// Decodes bytes and returns the console text; result receives the bitmap.
std::string decodeQuietly(const std::vector<uint8_t>& bytes, std::unique_ptr<bitmap>& result)
{
    consoleCapture capture;
    result = decodeBmp(bytes.data(), bytes.size(), "mem.bmp");
    return capture.text();
}

} // namespace

TEST(bitmap, constructionAllocatesOnlyPositiveSizes)
{
    EXPECT_NE(bitmap(2, 3, 3).pixels, nullptr);
    EXPECT_EQ(bitmap(0, 3, 3).pixels, nullptr);
    EXPECT_EQ(bitmap(3, -1, 3).pixels, nullptr);
    EXPECT_EQ(bitmap(0, 3, 3).byteCount(), 0u);
    EXPECT_EQ(bitmap(5, 3, 3).byteCount(), 45u);
    EXPECT_EQ(bitmap(40000, 20000, 3).pixels, nullptr); // over 2 GiB
}

TEST(bitmap, pixelAccessAndRangeMessages)
{
    bitmap b(4, 2, 3);
    consoleCapture capture;
    b.setPixel(1, 1, colour(10, 300, -1, 255)); // low eight bits are stored
    EXPECT_EQ(b.pixelAt(1, 1), colour(10, 300 & 0xFF, 255, 255));
    EXPECT_EQ(b.pixels[3 * (1 + 1 * 4)], 10);
    EXPECT_EQ(capture.text(), "");

    struct Case {
        int x, y;
        const char* message;
    } cases[] = {
        {-1, 0, "ERROR: X value is out of range!\n"},
        {4, 0, "ERROR: X value is out of range!\n"},
        {-1, -1, "ERROR: X value is out of range!\n"}, // the y test is not made
        {0, 2, "ERROR: Y value is out of range!\n"},
        {0, -1, "ERROR: Y value is out of range!\n"},
    };
    for (const Case& k : cases) {
        capture.clear();
        EXPECT_EQ(b.pixelAt(k.x, k.y), colour(0, 0, 0, 255));
        EXPECT_EQ(capture.text(), k.message);
        capture.clear();
        b.setPixel(k.x, k.y, colour(1, 2, 3, 255));
        EXPECT_EQ(capture.text(), k.message);
    }
}

TEST(bitmap, greyBitmapsStoreAlphaAndReadGrey)
{
    bitmap g(3, 1, 1);
    g.setPixel(2, 0, colour(1, 2, 3, 77));
    EXPECT_EQ(g.pixels[2], 77);
    EXPECT_EQ(g.pixelAt(2, 0), colour(77, 77, 77, 255));
}

TEST(bitmap, sampleAtWraps)
{
    auto b = patterned(4, 4, 3);
    consoleCapture capture;
    EXPECT_EQ(b->sampleAt(1.0f, 0.5f), b->pixelAt(0, 2));
    EXPECT_EQ(b->sampleAt(0.0f, 0.0f), b->pixelAt(0, 0));
    EXPECT_EQ(b->sampleAt(0.99f, 0.99f), b->pixelAt(3, 3));
    EXPECT_EQ(b->sampleAt(2.3f, 1.25f), b->pixelAt(1, 1));
    EXPECT_EQ(capture.text(), "");

    // Negative coordinates wrap to the far side; a fraction of a texel below 0 truncates to 0.
    EXPECT_EQ(b->sampleAt(-0.25f, 0.0f), b->pixelAt(3, 0));
    EXPECT_EQ(b->sampleAt(0.5f, -0.5f), b->pixelAt(2, 2));
    EXPECT_EQ(b->sampleAt(-1.75f, -0.1f), b->pixelAt(1, 0));
    EXPECT_EQ(b->sampleAt(-1.0f, -2.0f), b->pixelAt(0, 0));
    EXPECT_EQ(capture.text(), "");
    // Huge and undefined coordinates are reported, never turned into wild indices.
    b->sampleAt(3e38f, 0.0f);
    b->sampleAt(std::nanf(""), 0.0f);
    EXPECT_EQ(capture.text(), "ERROR: X value is out of range!\nERROR: X value is out of range!\n");
}

TEST(bmpFile, alignedWidthKeepsExactLayout)
{
    std::vector<uint8_t> bytes = roundTrip(*patterned(4, 2, 3));
    ASSERT_EQ(bytes.size(), 78u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(le32(bytes, 2), 78u);  // bfSize
    EXPECT_EQ(le32(bytes, 10), 54u); // bfOffBits
    EXPECT_EQ(le32(bytes, 14), 40u); // biSize
    EXPECT_EQ(le32(bytes, 18), 4u);
    EXPECT_EQ(le32(bytes, 22), 2u);
    EXPECT_EQ(bytes[26], 1);  // planes
    EXPECT_EQ(bytes[28], 24); // bit count
    EXPECT_EQ(le32(bytes, 30), 0u);
    EXPECT_EQ(le32(bytes, 34), 24u); // biSizeImage
    for (size_t at = 38; at < 54; ++at)
        EXPECT_EQ(bytes[at], 0);
    // Pixels are stored blue, green, red.
    auto b = patterned(4, 2, 3);
    EXPECT_EQ(bytes[54], b->pixels[2]);
    EXPECT_EQ(bytes[55], b->pixels[1]);
    EXPECT_EQ(bytes[56], b->pixels[0]);
}

TEST(bmpFile, unalignedRowsArePadded)
{
    struct Case {
        int w, h, bpp;
        size_t fileSize;
    } cases[] = {
        {3, 2, 3, 54 + 12 * 2},  // 9 bytes a row padded to 12
        {127, 5, 3, 54 + 384 * 5},
        {5, 3, 1, 54 + 8 * 3},
        {1, 1, 1, 54 + 4},
        {7, 2, 4, 54 + 28 * 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.w) + "x" + std::to_string(k.h) + "x" + std::to_string(k.bpp));
        std::vector<uint8_t> bytes = roundTrip(*patterned(k.w, k.h, k.bpp));
        ASSERT_EQ(bytes.size(), k.fileSize);
        EXPECT_EQ(le32(bytes, 2), k.fileSize);
        EXPECT_EQ(le32(bytes, 34), k.fileSize - 54);
        // Padding bytes are zero and the second row starts on the padded boundary.
        size_t stride = (k.fileSize - 54) / k.h;
        for (size_t at = 54 + k.w * k.bpp; at < 54 + stride; ++at)
            EXPECT_EQ(bytes[at], 0);
    }
}

TEST(bmpFile, writerErrors)
{
    consoleCapture capture;
    EXPECT_FALSE(writeBmp(tempPath("null.bmp"), nullptr));
    EXPECT_EQ(capture.text(), "ERROR: Pointer to bitmap is NULL!\n");

    capture.clear();
    bitmap empty(0, 4, 3);
    std::string emptyPath = tempPath("empty.bmp");
    EXPECT_FALSE(writeBmp(emptyPath, &empty));
    EXPECT_EQ(capture.text(), "ERROR: Bitmap is empty!\n");
    EXPECT_FALSE(fileExists(emptyPath));

    capture.clear();
    bitmap b(2, 2, 3);
    EXPECT_FALSE(writeBmp("/nonexistent-folder/x.bmp", &b));
    EXPECT_EQ(capture.text(), "ERROR: Could not open BMP file '/nonexistent-folder/x.bmp' for writing!\n");
}

TEST(bmpFile, shortWriteIsAFailureAndLeavesNoFile)
{
    std::string path = tempPath("limited.bmp");
    std::remove(path.c_str());
    std::FILE* old = std::fopen(path.c_str(), "wb");
    ASSERT_NE(old, nullptr);
    std::fputs("previous", old);
    std::fclose(old);

    // A child with a small file-size limit: the write is cut short, as on a full disk.
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        bitmap big(100, 100, 3);
        std::memset(big.pixels.get(), 0, big.byteCount());
        consoleCapture capture;
        bool written = writeBmp(path, &big);
        bool reported = capture.text() == "ERROR: Could not write BMP file '" + path + "'!\n";
        _exit(!written && reported ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The earlier file under that name is untouched and no partial file is left.
    EXPECT_EQ(fileBytes(path), std::vector<uint8_t>({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'}));
    EXPECT_FALSE(fileExists(path + ".partial"));
    std::remove(path.c_str());
}

TEST(bmpFile, readerErrors)
{
    std::unique_ptr<bitmap> result;
    consoleCapture capture;
    EXPECT_EQ(readBmp("/no/such/file.bmp"), nullptr);
    EXPECT_EQ(capture.text(), "ERROR: File '/no/such/file.bmp' could not be opened!\n");

    std::vector<uint8_t> good = encodeBmp(*patterned(3, 2, 3)); // 12-byte padded rows
    ASSERT_EQ(good.size(), 78u);
    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>&);
        const char* message;
    } cases[] = {
        {"other letters", [](std::vector<uint8_t>& d) { d[0] = 'P'; }, "ERROR: Not a valid BMP file!\n"},
        {"one byte", [](std::vector<uint8_t>& d) { d.resize(1); }, "ERROR: Not a valid BMP file!\n"},
        {"headers cut", [](std::vector<uint8_t>& d) { d.resize(30); }, "ERROR: BMP file 'mem.bmp' is truncated!\n"},
        {"pixels cut", [](std::vector<uint8_t>& d) { d.resize(77); }, "ERROR: BMP file 'mem.bmp' is truncated!\n"},
        {"size image disagrees", [](std::vector<uint8_t>& d) { put32(d, 34, 18); },
         "ERROR: BMP file 'mem.bmp' declares 18 bytes of pixels where 3 x 2 pixels take 24!\n"},
        {"offset past end", [](std::vector<uint8_t>& d) { put32(d, 10, 1000); },
         "ERROR: BMP file 'mem.bmp' has its pixels at offset 1000, outside the file!\n"},
        {"offset inside header", [](std::vector<uint8_t>& d) { put32(d, 10, 20); },
         "ERROR: BMP file 'mem.bmp' has its pixels at offset 20, outside the file!\n"},
        {"2 bits", [](std::vector<uint8_t>& d) { d[28] = 2; },
         "ERROR: BMP file 'mem.bmp' has 2 bits per pixel; only 1, 4, 8, 16, 24 and 32 are supported!\n"},
        {"run lengths of 24-bit pixels", [](std::vector<uint8_t>& d) { put32(d, 30, 1); },
         "ERROR: BMP file 'mem.bmp' uses compression 1 with 24 bits per pixel, which is not supported!\n"},
        {"bit fields with no room for their masks", [](std::vector<uint8_t>& d) { d[28] = 32; put32(d, 30, 3); put32(d, 34, 0); },
         "ERROR: BMP file 'mem.bmp' has its pixels at offset 54, outside the file!\n"},
        {"declared file size past its end", [](std::vector<uint8_t>& d) { put32(d, 2, 79); },
         "ERROR: BMP file 'mem.bmp' declares 79 bytes but holds only 78!\n"},
        {"small header", [](std::vector<uint8_t>& d) { put32(d, 14, 12); },
         "ERROR: BMP file 'mem.bmp' has an unsupported header!\n"},
        {"zero width", [](std::vector<uint8_t>& d) { put32(d, 18, 0); },
         "ERROR: BMP file 'mem.bmp' has an invalid size of 0 x 2 pixels!\n"},
        {"negative width", [](std::vector<uint8_t>& d) { put32(d, 18, static_cast<uint32_t>(-3)); },
         "ERROR: BMP file 'mem.bmp' has an invalid size of -3 x 2 pixels!\n"},
        {"overflowing size", [](std::vector<uint8_t>& d) {
             put32(d, 18, 0x7FFFFFFF); put32(d, 22, 0x7FFFFFFF); d[28] = 32; put32(d, 34, 0); },
         "ERROR: BMP file 'mem.bmp' is too large (2147483647 x 2147483647 pixels)!\n"},
        {"over 2 GiB", [](std::vector<uint8_t>& d) { put32(d, 18, 40000); put32(d, 22, 20000); put32(d, 34, 0); },
         "ERROR: BMP file 'mem.bmp' is too large (40000 x 20000 pixels)!\n"},
        {"huge but short", [](std::vector<uint8_t>& d) { put32(d, 18, 30000); put32(d, 22, 20000); put32(d, 34, 0); },
         "ERROR: BMP file 'mem.bmp' is truncated!\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> bad = good;
        k.damage(bad);
        EXPECT_EQ(decodeQuietly(bad, result), k.message);
        EXPECT_EQ(result, nullptr);
    }
    // A size image of 0 means "as the dimensions say".
    std::vector<uint8_t> zeroSize = good;
    put32(zeroSize, 34, 0);
    EXPECT_EQ(decodeQuietly(zeroSize, result), "");
    EXPECT_NE(result, nullptr);
}

TEST(bmpFile, topDownFilesAreFlipped)
{
    auto b = patterned(3, 4, 3);
    std::vector<uint8_t> bottomUp = encodeBmp(*b);
    std::vector<uint8_t> topDown = bottomUp;
    put32(topDown, 22, static_cast<uint32_t>(-4));
    const size_t stride = 12;
    for (size_t row = 0; row < 4; ++row)
        std::copy(bottomUp.begin() + 54 + row * stride, bottomUp.begin() + 54 + (row + 1) * stride,
                  topDown.begin() + 54 + (3 - row) * stride);
    std::unique_ptr<bitmap> back;
    EXPECT_EQ(decodeQuietly(topDown, back), "");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->height, 4);
    EXPECT_EQ(0, std::memcmp(back->pixels.get(), b->pixels.get(), b->byteCount()));
}

TEST(bmpSuite, validFilesAgreeWithEachOther)
{
    REQUIRE_TESTDATA();
    consoleCapture capture;
    auto rgb24 = readBmp(suite + "g/rgb24.bmp");
    ASSERT_NE(rgb24, nullptr);
    EXPECT_EQ(rgb24->width, 127);
    EXPECT_EQ(rgb24->height, 64);
    EXPECT_EQ(rgb24->bytesPerPixel, 3);

    // The same picture stored with a palette before the pixels, and with larger headers.
    for (const char* same : {"g/rgb24pal.bmp", "q/rgb24prof.bmp", "q/rgb24largepal.bmp"}) {
        SCOPED_TRACE(same);
        auto other = readBmp(suite + same);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(0, std::memcmp(other->pixels.get(), rgb24->pixels.get(), rgb24->byteCount()));
    }
    // 32-bit pixels are kept as stored: blue, green, red, unused.
    auto rgb32 = readBmp(suite + "g/rgb32.bmp");
    ASSERT_NE(rgb32, nullptr);
    ASSERT_EQ(rgb32->bytesPerPixel, 4);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 127; ++x) {
            const uint8_t* p4 = rgb32->pixels.get() + 4 * (x + 127 * y);
            const uint8_t* p3 = rgb24->pixels.get() + 3 * (x + 127 * y);
            ASSERT_EQ(p4[2], p3[0]) << x << "," << y;
            ASSERT_EQ(p4[1], p3[1]);
            ASSERT_EQ(p4[0], p3[2]);
        }
    // Palette files: the palette's colours; top-down and bottom-up, larger headers, the old
    // OS/2 header and run lengths agree.
    auto pal8 = readBmp(suite + "g/pal8.bmp");
    auto pal8topdown = readBmp(suite + "g/pal8topdown.bmp");
    ASSERT_NE(pal8, nullptr);
    ASSERT_NE(pal8topdown, nullptr);
    EXPECT_EQ(pal8->bytesPerPixel, 3);
    EXPECT_EQ(0, std::memcmp(pal8->pixels.get(), pal8topdown->pixels.get(), pal8->byteCount()));
    for (const char* same : {"g/pal8v4.bmp", "g/pal8v5.bmp", "g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp"}) {
        SCOPED_TRACE(same);
        auto other = readBmp(suite + same);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(0, std::memcmp(other->pixels.get(), pal8->pixels.get(), pal8->byteCount()));
    }
    EXPECT_EQ(capture.text(), "");
}

TEST(bmpSuite, oddWidthsReadWithPadding)
{
    REQUIRE_TESTDATA();
    // Widths 124 to 127 of 8-bit rows need every amount of row padding.
    for (const char* name : {"g/pal8w124.bmp", "g/pal8w125.bmp", "g/pal8w126.bmp", "g/pal8.bmp"}) {
        SCOPED_TRACE(name);
        consoleCapture capture;
        auto b = readBmp(suite + name);
        ASSERT_NE(b, nullptr);
        std::string path = tempPath("odd.bmp");
        ASSERT_TRUE(writeBmp(path, b.get()));
        auto back = readBmp(path);
        std::remove(path.c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(0, std::memcmp(back->pixels.get(), b->pixels.get(), b->byteCount()));
        EXPECT_EQ(capture.text(), "");
    }
}

// Each refusal for its own reason: the damaged files of the suite, and the questionable ones
// that ImageMagick refuses too or reads in ways decoders disagree on.
TEST(bmpSuite, refusedFilesGiveTheirCause)
{
    REQUIRE_TESTDATA();
    const struct {
        const char* file;
        const char* cause; // part of the one error line
    } cases[] = {
        {"b/badbitcount.bmp", "has 30000 bits per pixel"},
        {"b/badbitssize.bmp", "declares 2129587950 bytes of pixels"},
        {"b/baddens1.bmp", "implausible density of 30000000 x 3"},
        {"b/baddens2.bmp", "implausible density of 3 x 30000000"},
        {"b/badfilesize.bmp", "declares 2111692253 bytes but holds only 1086"},
        {"b/badheadersize.bmp", "unsupported header"},
        {"b/badpalettesize.bmp", "palette of 305402420 colours; at most 256"},
        {"b/badplanes.bmp", "unsupported header"},
        {"b/badrle.bmp", "run lengths that reach outside the image"},
        {"b/badrle4.bmp", "run lengths that reach outside the image"},
        {"b/badrle4bis.bmp", "run lengths that reach outside the image"},
        {"b/badrle4ter.bmp", "run lengths that reach outside the image"},
        {"b/badrlebis.bmp", "run lengths that reach outside the image"},
        {"b/badrleter.bmp", "run lengths that reach outside the image"},
        {"b/badwidth.bmp", "invalid size of -127 x 64"},
        {"b/pal8badindex.bmp", "pixel outside its palette of 101 colours"},
        {"b/reallybig.bmp", "too large (3000000 x 2000000 pixels)"},
        {"b/rgb16-880.bmp", "invalid colour masks 0000ff00, 000000ff, 00000000"},
        {"b/rletopdown.bmp", "run-length encoded yet stored top-down"},
        {"b/shortfile.bmp", "is truncated"},
        {"q/pal2.bmp", "has 2 bits per pixel"},
        {"q/pal2color.bmp", "has 2 bits per pixel"},
        {"q/pal8oversizepal.bmp", "palette of 300 colours; at most 256"},
        {"q/rgba32abf.bmp", "uses compression 6 with 32 bits per pixel"},
        {"q/rgba64.bmp", "has 64 bits per pixel"},
        {"q/pal8os2v2.bmp", "unsupported header"},
        {"q/rgb16-231.bmp", "colour masks 00000030, 0000000e, 00000001; only 5- or 6-bit"},
        {"q/rgba32-1010102.bmp", "colour masks 3ff00000, 000ffc00, 000003ff; only 5- or 6-bit"},
    };
    for (const auto& k : cases) {
        consoleCapture capture;
        EXPECT_EQ(readBmp(suite + k.file), nullptr) << k.file;
        std::string text = capture.text();
        EXPECT_EQ(text.rfind("ERROR: BMP file '" + suite + k.file + "' ", 0), 0u) << text;
        EXPECT_NE(text.find(k.cause), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
}
