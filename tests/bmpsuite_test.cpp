#include "core/bitmap.h"
#include "core/console.h"
#include "tests/imagemagick.h"
#include "tests/testdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Every file of the shared BMP suite, including the ones no other test names, and the pixels
// of the files that read compared with an independent decoder where one is installed.

namespace {

namespace fs = std::filesystem;

const std::string suite = std::string(TESTDATA_DIR) + "/bmpsuite/";

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(suite + folder, ec))
        if (e.path().extension() == ".bmp")
            names.push_back(folder + "/" + e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::vector<uint8_t>& d, size_t at)
{
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

struct outcome {
    std::unique_ptr<bitmap> image;
    std::string text;
};

outcome read(const std::string& name)
{
    consoleCapture capture;
    outcome o;
    o.image = readBmp(suite + name);
    o.text = capture.text();
    return o;
}

// ImageMagick's decoding as 8-bit red, green, blue, top row first; empty when it refuses.
std::string decodedByImageMagick(const std::string& path)
{
    return commandOutput(convertProgram() + " '" + path + "' -depth 8 rgb:- 2>/dev/null");
}

// Our pixels as red, green, blue, top row first: grey levels repeated, 32-bit pixels from
// their stored blue, green, red order.
std::string asTopDownRgb(const bitmap& b)
{
    std::string out;
    for (int y = b.height - 1; y >= 0; --y)
        for (int x = 0; x < b.width; ++x) {
            const uint8_t* p = b.pixels.get() + static_cast<size_t>(b.bytesPerPixel) * (x + y * static_cast<size_t>(b.width));
            const uint8_t rgb[3] = {p[b.bytesPerPixel == 4 ? 2 : 0], p[b.bytesPerPixel == 1 ? 0 : 1],
                                    p[b.bytesPerPixel == 3 ? 2 : 0]};
            out.append(reinterpret_cast<const char*>(rgb), 3);
        }
    return out;
}

} // namespace

// Good files all read, at the size in their headers; questionable ones read or give one line.
TEST(BmpSuiteEveryFile, GoodFilesReadAndOthersGiveOneErrorLine)
{
    REQUIRE_TESTDATA();
    std::vector<std::string> names = filesIn("g");
    ASSERT_EQ(names.size(), 27u) << "no BMP suite under " << suite;
    std::vector<std::string> questionable = filesIn("q");
    names.insert(names.end(), questionable.begin(), questionable.end());
    for (const std::string& name : names) {
        outcome o = read(name);
        if (o.image) {
            EXPECT_EQ(o.text, "") << name;
            // The size stored in the headers, with a top-down height made positive; the old
            // OS/2 header holds 16-bit sizes.
            std::vector<uint8_t> bytes = bytesOf(suite + name);
            bool os2 = le32(bytes, 14) == 12;
            int32_t width = os2 ? bytes[18] | bytes[19] << 8 : static_cast<int32_t>(le32(bytes, 18));
            int32_t height = os2 ? bytes[20] | bytes[21] << 8 : static_cast<int32_t>(le32(bytes, 22));
            EXPECT_EQ(o.image->width, width) << name;
            EXPECT_EQ(o.image->height, height < 0 ? -height : height) << name;
        } else {
            EXPECT_EQ(name[0], 'q') << name << ": " << o.text;
            EXPECT_EQ(o.text.rfind("ERROR: ", 0), 0u) << name << ": " << o.text;
            EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 1) << name << ": " << o.text;
        }
    }
}

// Every file that reads, good or questionable, has ImageMagick's pixels; a grey palette gives
// one byte a pixel, plain 32-bit pixels keep their four, everything else has three.
TEST(BmpSuiteImageMagick, PixelsOfEveryReadableFileMatch)
{
    REQUIRE_TESTDATA();
    REQUIRE_IMAGEMAGICK();
    const std::vector<std::string> grey = {"g/pal1.bmp", "g/pal1wb.bmp", "g/pal4gs.bmp", "g/pal8gs.bmp"};
    const std::vector<std::string> stored32 = {"g/rgb32.bmp", "q/rgb32fakealpha.bmp"};
    std::vector<std::string> names = filesIn("g");
    std::vector<std::string> questionable = filesIn("q");
    names.insert(names.end(), questionable.begin(), questionable.end());
    int compared = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        outcome o = read(name);
        if (!o.image)
            continue;
        const bitmap& b = *o.image;
        int bytesPerPixel = std::count(grey.begin(), grey.end(), name) ? 1 : std::count(stored32.begin(), stored32.end(), name) ? 4 : 3;
        EXPECT_EQ(b.bytesPerPixel, bytesPerPixel);
        std::string theirs = decodedByImageMagick(suite + name);
        std::string ours = asTopDownRgb(b);
        ASSERT_EQ(theirs.size(), ours.size()) << "ImageMagick does not read it alike";
        int mismatches = 0;
        for (size_t i = 0; i < ours.size() && mismatches < 5; ++i)
            if (ours[i] != theirs[i]) {
                size_t pixel = i / 3;
                ADD_FAILURE() << "pixel " << pixel % b.width << "," << pixel / b.width << " (from the top) channel "
                              << i % 3 << ": " << int(static_cast<uint8_t>(ours[i])) << " vs "
                              << int(static_cast<uint8_t>(theirs[i]));
                ++mismatches;
            }
        ++compared;
    }
    EXPECT_GE(compared, 27);
}
