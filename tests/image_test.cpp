#include "core/console.h"
#include "core/image.h"
#include "tests/imagemagick.h"
#include "tests/jpegmaker.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

// PNG and JPEG files made by ImageMagick or libjpeg from known pixels read back as those pixels;
// damaged ones give one error line.

namespace {

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "image_test_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A picture of 16-bit samples, top row first, channels interleaved (grey or RGB, then alpha).
struct picture {
    int width, height, colours; // 1 or 3
    bool alpha;
    std::vector<uint16_t> samples;

    int channels() const { return colours + (alpha ? 1 : 0); }
    uint16_t at(int x, int yFromTop, int c) const { return samples[static_cast<size_t>((yFromTop * width + x) * channels() + c)]; }

    // As PAM, which ImageMagick reads at full depth with or without alpha.
    void writePam(const std::string& path) const
    {
        std::string head = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                           "\nDEPTH " + std::to_string(channels()) + "\nMAXVAL 65535\nTUPLTYPE " +
                           (colours == 1 ? "GRAYSCALE" : "RGB") + (alpha ? "_ALPHA" : "") + "\nENDHDR\n";
        std::vector<uint8_t> bytes(head.begin(), head.end());
        for (uint16_t s : samples) {
            bytes.push_back(static_cast<uint8_t>(s >> 8));
            bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        }
        writeBytes(path, bytes);
    }
};

// Colour samples as exact multiples of the level step of depth bits (any value at 16 bits,
// where rounding to 8 is what is looked at), or one of a palette of the given size. A colour
// palette starts with white, which ImageMagick would otherwise add for its background.
picture makePicture(int colours, bool alpha, int depth, int paletteSize, bool greyPalette)
{
    std::mt19937 random(depth * 10 + colours + (alpha ? 100 : 0));
    picture p{7, 3, colours, alpha, {}};
    const uint32_t top = (1u << depth) - 1;
    for (int i = 0; i < p.width * p.height; ++i) {
        const int entry = paletteSize ? i % paletteSize : 0;
        for (int c = 0; c < colours; ++c) {
            uint32_t s = depth == 16 ? random() % 65536 : random() % (top + 1) * (65535 / top);
            if (paletteSize)
                s = 257 * (greyPalette ? 12 * entry : entry == 0 ? 255 : (97 * entry + 61 * c) % 256);
            p.samples.push_back(static_cast<uint16_t>(s));
        }
        if (alpha)
            p.samples.push_back(static_cast<uint16_t>(1 + random() % 65535));
    }
    return p;
}

struct readResult {
    std::unique_ptr<bitmap> image;
    std::string text;
};

readResult readQuietly(const std::string& path)
{
    consoleCapture capture;
    readResult r;
    r.image = readImage(path);
    r.text = capture.text();
    return r;
}

// Largest difference between the bitmap and the picture's colours rounded to 8 bits; 256 for
// another size or depth.
int largestDifference(const bitmap& b, const picture& p, int bytesPerPixel)
{
    if (b.width != p.width || b.height != p.height || b.bytesPerPixel != bytesPerPixel)
        return 256;
    int worst = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c) {
                colour got = b.pixelAt(x, p.height - 1 - y); // bitmaps run bottom up
                int ours = c == 0 ? got.red : c == 1 ? got.green : got.blue;
                int want = static_cast<int>(std::lround(p.at(x, y, p.colours == 1 ? 0 : c) / 257.0));
                worst = std::max(worst, std::abs(ours - want));
            }
    return worst;
}

} // namespace

TEST(pngFile, everyColourTypeAndDepthReadsItsPixels)
{
    REQUIRE_IMAGEMAGICK();
    const struct {
        int type, depth; // as in the file's header
        int paletteSize = 0;
        bool greyPalette = false, interlaced = false;
    } cases[] = {
        {0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {2, 8, 0, false, true},
        {3, 1, 2}, {3, 2, 4}, {3, 4, 16}, {3, 8, 21}, {3, 8, 21, true}, {4, 8}, {4, 16}, {6, 8}, {6, 16},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE("colour type " + std::to_string(k.type) + ", " + std::to_string(k.depth) + " bits" +
                     (k.greyPalette ? ", grey palette" : "") + (k.interlaced ? ", interlaced" : ""));
        const bool colour = k.type == 2 || k.type == 3 || k.type == 6;
        picture p = makePicture(colour ? 3 : 1, k.type >= 4, k.paletteSize ? 8 : k.depth, k.paletteSize, k.greyPalette);
        const std::string source = tempPath("source.pam"), png = tempPath("made.png");
        p.writePam(source);
        ASSERT_TRUE(convertImage("'" + source + "' -define png:color-type=" + std::to_string(k.type) +
                                 " -define png:bit-depth=" + std::to_string(k.depth) +
                                 (k.interlaced ? " -interlace PNG" : "") + " '" + png + "'"));
        // The file is of the kind this case is about.
        std::vector<uint8_t> file = bytesOf(png);
        ASSERT_GT(file.size(), 28u);
        EXPECT_EQ(file[24], k.depth);
        EXPECT_EQ(file[25], k.type);
        EXPECT_EQ(file[28], k.interlaced ? 1 : 0);

        readResult r = readQuietly(png);
        EXPECT_EQ(r.text, "");
        ASSERT_NE(r.image, nullptr);
        EXPECT_EQ(largestDifference(*r.image, p, colour && !k.greyPalette ? 3 : 1), 0);
        std::remove(source.c_str());
        std::remove(png.c_str());
    }
}

TEST(jpegFile, baselineProgressiveAndGreyReadWithinRounding)
{
    REQUIRE_IMAGEMAGICK();
    const struct {
        const char* what;
        int colours;
        const char* options;
        uint8_t frameMarker; // start of frame: 0xC0 baseline, 0xC2 progressive
    } cases[] = {
        {"baseline colour", 3, "", 0xC0},
        {"progressive colour", 3, "-interlace Plane", 0xC2},
        {"baseline grey", 1, "", 0xC0},
        {"progressive grey", 1, "-interlace Plane", 0xC2},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        // Smooth, so that only the decoder's rounding is left at the highest quality.
        picture p{16, 16, k.colours, false, {}};
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                for (int c = 0; c < k.colours; ++c)
                    p.samples.push_back(static_cast<uint16_t>(257 * (40 + 8 * x + 5 * y + 30 * c)));
        const std::string source = tempPath("source.pam"), jpeg = tempPath("made.jpg");
        p.writePam(source);
        ASSERT_TRUE(convertImage("'" + source + "' -quality 100 -sampling-factor 1x1 " +
                                 std::string(k.options) + " '" + jpeg + "'"));
        std::vector<uint8_t> file = bytesOf(jpeg);
        bool marked = false;
        for (size_t i = 0; i + 1 < file.size(); ++i)
            marked = marked || (file[i] == 0xFF && file[i + 1] == k.frameMarker);
        EXPECT_TRUE(marked);

        readResult r = readQuietly(jpeg);
        EXPECT_EQ(r.text, "");
        ASSERT_NE(r.image, nullptr);
        EXPECT_LE(largestDifference(*r.image, p, k.colours), 3);
        std::remove(source.c_str());
        std::remove(jpeg.c_str());
    }
}

namespace {

// A chunk's stored CRC made right again after its bytes were changed.
void fixChunkCrc(std::vector<uint8_t>& png, size_t chunkAt)
{
    uint32_t length = static_cast<uint32_t>(png[chunkAt] << 24 | png[chunkAt + 1] << 16 | png[chunkAt + 2] << 8 | png[chunkAt + 3]);
    uint32_t crc = static_cast<uint32_t>(crc32(0, png.data() + chunkAt + 4, length + 4));
    for (int i = 0; i < 4; ++i)
        png[chunkAt + 8 + length + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

void put16be(std::vector<uint8_t>& d, size_t at, unsigned v) { d[at] = v >> 8 & 0xFF; d[at + 1] = v & 0xFF; }

size_t find(const std::vector<uint8_t>& d, const std::string& what)
{
    auto same = [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); };
    return static_cast<size_t>(std::search(d.begin(), d.end(), what.begin(), what.end(), same) - d.begin());
}

} // namespace

// Damaged, huge and misnamed files: no bitmap and one line that names the file; an exact
// text where the cause is ours to tell.
TEST(imageFile, damagedFilesGiveOneErrorLine)
{
    REQUIRE_IMAGEMAGICK();
    const std::string png = tempPath("good.png"), jpeg = tempPath("good.jpg");
    ASSERT_TRUE(convertImage("-size 16x8 gradient:red-blue '" + png + "'"));
    ASSERT_TRUE(convertImage("-size 16x8 gradient:red-blue -interlace Plane '" + jpeg + "'"));
    const std::vector<uint8_t> goodPng = bytesOf(png), goodJpeg = bytesOf(jpeg);
    ASSERT_EQ(find(goodPng, "IHDR"), 12u);
    const size_t idat = find(goodPng, "IDAT") - 4, sof = find(goodJpeg, "\xFF\xC2");
    ASSERT_LT(sof, goodJpeg.size());

    using damage = void (*)(std::vector<uint8_t>&, size_t);
    const struct {
        const char* what;
        bool isPng;
        damage change;
        const char* message; // after "ERROR: <kind> file '<path>' "; none where libjpeg or libpng tells
    } cases[] = {
        {"PNG cut in its pixels", true, [](std::vector<uint8_t>& d, size_t at) { d.resize(at + 20); },
         "could not be read (the file ends too early)!\n"},
        {"PNG signature alone", true, [](std::vector<uint8_t>& d, size_t) { d.resize(8); },
         "could not be read (the file ends too early)!\n"},
        {"PNG header's CRC wrong", true, [](std::vector<uint8_t>& d, size_t) { d[29] ^= 1; },
         "could not be read (IHDR: CRC error)!\n"},
        {"PNG pixels not deflate data", true, [](std::vector<uint8_t>& d, size_t at) { d[at + 8] ^= 0xFF; fixChunkCrc(d, at); }, nullptr},
        {"PNG of 50000 x 50000 pixels", true,
         [](std::vector<uint8_t>& d, size_t) { put16be(d, 18, 50000); put16be(d, 22, 50000); fixChunkCrc(d, 8); },
         "is too large (50000 x 50000 pixels)!\n"},
        {"JPEG cut in its scans", false, [](std::vector<uint8_t>& d, size_t) { d.resize(d.size() / 2); },
         "could not be read (the file ends too early)!\n"},
        {"JPEG scan data overwritten", false,
         [](std::vector<uint8_t>& d, size_t) { for (size_t i = d.size() / 2; i < d.size() / 2 + 40; ++i) d[i] = static_cast<uint8_t>(i * 37); }, nullptr},
        {"JPEG of 60000 x 60000 pixels", false,
         [](std::vector<uint8_t>& d, size_t at) { put16be(d, at + 5, 60000); put16be(d, at + 7, 60000); },
         "is too large (60000 x 60000 pixels)!\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> bytes = k.isPng ? goodPng : goodJpeg;
        k.change(bytes, k.isPng ? idat : sof);
        const std::string path = tempPath(k.isPng ? "bad.png" : "bad.jpg");
        writeBytes(path, bytes);
        readResult r = readQuietly(path);
        EXPECT_EQ(r.image, nullptr);
        const std::string lead = std::string("ERROR: ") + (k.isPng ? "PNG" : "JPEG") + " file '" + path + "' ";
        if (k.message) {
            EXPECT_EQ(r.text, lead + k.message);
        } else {
            EXPECT_EQ(r.text.rfind(lead + "could not be read (", 0), 0u) << r.text;
            EXPECT_EQ(std::count(r.text.begin(), r.text.end(), '\n'), 1) << r.text;
        }
        std::remove(path.c_str());
    }

    // The first bytes decide, the name only when they say nothing.
    const std::string pngNamedBmp = tempPath("png.bmp"), textNamedPng = tempPath("text.png"), textNamedJpeg = tempPath("text.jpeg");
    writeBytes(pngNamedBmp, goodPng);
    writeBytes(textNamedPng, {'h', 'i', '\n'});
    writeBytes(textNamedJpeg, {'h', 'i', '\n'});
    readResult named = readQuietly(pngNamedBmp);
    ASSERT_NE(named.image, nullptr);
    EXPECT_EQ(named.image->width, 16);
    EXPECT_EQ(readQuietly(textNamedPng).text, "ERROR: PNG file '" + textNamedPng + "' is not a PNG file!\n");
    EXPECT_EQ(readQuietly(textNamedJpeg).text, "ERROR: JPEG file '" + textNamedJpeg + "' is not a JPEG file!\n");
    for (const std::string& f : {png, jpeg, pngNamedBmp, textNamedPng, textNamedJpeg})
        std::remove(f.c_str());
}

namespace {

bool holds(const std::vector<uint8_t>& d, const std::string& what) { return find(d, what) < d.size(); }

} // namespace

// Four inks in 16 x 16 patches, stored as Adobe stores them (255 is no ink, with its marker)
// or as plain amounts (without it), in CMYK and in YCCK, whose colour part libjpeg turns back
// into CMYK. Red is the paper left by cyan and black: (255 - cyan) x (255 - black) / 255.
TEST(jpegFile, cmykAndYcckGiveRgbOfTheirInks)
{
    const int inks[3][4] = {{0, 0, 0, 0}, {200, 30, 90, 40}, {60, 250, 10, 160}}; // amounts of ink
    const struct {
        const char* what;
        J_COLOR_SPACE space;
        bool adobe;
    } cases[] = {
        {"CMYK, Adobe's inverted form", JCS_CMYK, true},
        {"CMYK, plain without Adobe's marker", JCS_CMYK, false},
        {"YCCK", JCS_YCCK, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        auto ink = [&](int x, int c) { return inks[x / 16][c]; };
        std::vector<uint8_t> file = encodeJpeg(
            48, 16, 4, JCS_CMYK,
            [&](jpeg_compress_struct& c) {
                jpeg_set_colorspace(&c, k.space);
                c.write_Adobe_marker = k.adobe;
            },
            [&](int x, int, int c) { return static_cast<uint8_t>(k.adobe ? 255 - ink(x, c) : ink(x, c)); });
        EXPECT_EQ(holds(file, "Adobe"), k.adobe);
        const std::string path = tempPath("inks.jpg");
        writeBytes(path, file);
        readResult r = readQuietly(path);
        std::remove(path.c_str());
        EXPECT_EQ(r.text, "");
        ASSERT_NE(r.image, nullptr);
        ASSERT_EQ(r.image->bytesPerPixel, 3);
        // Away from the patches' edges, where YCCK's halved colour is blurred.
        int worst = 0;
        for (int y = 3; y < 13; ++y)
            for (int x = 0; x < 48; ++x) {
                if (x % 16 < 3 || x % 16 > 12)
                    continue;
                colour got = r.image->pixelAt(x, y);
                const int rgb[3] = {got.red, got.green, got.blue};
                for (int c = 0; c < 3; ++c) {
                    int want = static_cast<int>(std::lround((255 - ink(x, c)) * (255 - ink(x, 3)) / 255.0));
                    worst = std::max(worst, std::abs(rgb[c] - want));
                }
            }
        EXPECT_LE(worst, 2);
    }
}

// ImageMagick writes CMYK files in Adobe's form and reads them back as we do.
TEST(jpegFile, cmykFromImageMagickReadsAsImageMagickReadsIt)
{
    REQUIRE_IMAGEMAGICK();
    const std::string jpeg = tempPath("cmyk.jpg");
    ASSERT_TRUE(convertImage("-size 24x16 gradient:orange-navy -colorspace CMYK -quality 95 '" + jpeg + "'"));
    ASSERT_TRUE(holds(bytesOf(jpeg), "Adobe"));
    const std::string theirs = commandOutput(convertProgram() + " '" + jpeg + "' -depth 8 rgb:- 2>/dev/null");
    readResult r = readQuietly(jpeg);
    std::remove(jpeg.c_str());
    EXPECT_EQ(r.text, "");
    ASSERT_NE(r.image, nullptr);
    ASSERT_EQ(theirs.size(), 24u * 16 * 3);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            colour got = r.image->pixelAt(x, 15 - y);
            const uint8_t* want = reinterpret_cast<const uint8_t*>(theirs.data()) + 3 * (y * 24 + x);
            worst = std::max({worst, std::abs(got.red - want[0]), std::abs(got.green - want[1]), std::abs(got.blue - want[2])});
        }
    EXPECT_LE(worst, 1);
}

// The header names the precision before any data is decoded; a 12-bit file is refused with a
// line that says why.
TEST(jpegFile, twelveBitSamplesAreRefusedWithOneLine)
{
    std::vector<uint8_t> file = encodeJpeg(
        8, 8, 1, JCS_GRAYSCALE, [](jpeg_compress_struct&) {}, [](int x, int y, int) { return static_cast<uint8_t>(16 * x + y); });
    const size_t sof = find(file, "\xFF\xC0");
    ASSERT_LT(sof + 4, file.size());
    ASSERT_EQ(file[sof + 4], 8);
    file[sof + 4] = 12;
    const std::string path = tempPath("twelve.jpg");
    writeBytes(path, file);
    readResult r = readQuietly(path);
    std::remove(path.c_str());
    EXPECT_EQ(r.image, nullptr);
    EXPECT_EQ(r.text, "ERROR: JPEG file '" + path + "' has 12-bit samples, which are not supported!\n");
}

namespace {

std::vector<uint8_t> pngChunk(const char* type, const std::string& data)
{
    std::vector<uint8_t> chunk(4 + 4 + data.size() + 4);
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i)
        chunk[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (24 - 8 * i));
    std::memcpy(chunk.data() + 4, type, 4);
    std::memcpy(chunk.data() + 8, data.data(), data.size());
    fixChunkCrc(chunk, 0);
    return chunk;
}

} // namespace

// Text, metadata and private chunks, however long, are passed over: the pixels and the silence
// are those of the file without them. A critical chunk that is not known still refuses the file.
TEST(pngFile, ancillaryChunksChangeNothing)
{
    REQUIRE_IMAGEMAGICK();
    const std::string png = tempPath("plain.png");
    ASSERT_TRUE(convertImage("-size 16x8 gradient:red-blue -strip '" + png + "'"));
    const std::vector<uint8_t> plain = bytesOf(png);
    const size_t afterHeader = 8 + 25;
    ASSERT_EQ(find(plain, "IHDR"), 12u);

    std::vector<uint8_t> withText(plain.begin(), plain.begin() + afterHeader);
    std::string compressed(64, '\0');
    uLongf n = compressed.size();
    compress(reinterpret_cast<Bytef*>(&compressed[0]), &n, reinterpret_cast<const Bytef*>("some words"), 10);
    compressed.resize(n);
    for (const std::vector<uint8_t>& chunk :
         {pngChunk("tEXt", std::string("Comment\0a short one", 19)),
          pngChunk("zTXt", std::string("Comment\0\0", 9) + compressed),
          pngChunk("iTXt", std::string("XML:com.adobe.xmp\0\0\0\0\0", 22) + std::string(10 << 20, 'x')),
          pngChunk("prIv", "private"), pngChunk("gAMA", std::string("\0\0\xB1\x8F", 4))})
        withText.insert(withText.end(), chunk.begin(), chunk.end());
    withText.insert(withText.end(), plain.begin() + afterHeader, plain.end());
    std::vector<uint8_t> withCritical(plain.begin(), plain.begin() + afterHeader);
    const std::vector<uint8_t> unknown = pngChunk("CRIT", "must be understood");
    withCritical.insert(withCritical.end(), unknown.begin(), unknown.end());
    withCritical.insert(withCritical.end(), plain.begin() + afterHeader, plain.end());

    readResult want = readQuietly(png);
    ASSERT_NE(want.image, nullptr);
    writeBytes(png, withText);
    readResult got = readQuietly(png);
    EXPECT_EQ(got.text, "");
    ASSERT_NE(got.image, nullptr);
    ASSERT_EQ(got.image->byteCount(), want.image->byteCount());
    EXPECT_EQ(std::memcmp(got.image->pixels.get(), want.image->pixels.get(), want.image->byteCount()), 0);

    writeBytes(png, withCritical);
    readResult refused = readQuietly(png);
    EXPECT_EQ(refused.image, nullptr);
    EXPECT_EQ(refused.text.rfind("ERROR: PNG file '" + png + "' could not be read (", 0), 0u) << refused.text;
    EXPECT_EQ(std::count(refused.text.begin(), refused.text.end(), '\n'), 1) << refused.text;
    std::remove(png.c_str());
}
