#include "core/console.h"
#include "core/image.h"
#include "tests/imagemagick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

// PNG and JPEG files made by ImageMagick from known pixels read back as those pixels; damaged
// ones give one error line.

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
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
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
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
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
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
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
