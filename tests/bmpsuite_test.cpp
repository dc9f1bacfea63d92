#include "core/bitmap.h"
#include "core/console.h"

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

// The output of a command, or nothing when it cannot run.
std::string commandOutput(const std::string& command)
{
    std::string out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    if (pclose(pipe) != 0)
        out.clear();
    return out;
}

bool haveImageMagick()
{
    static const bool found =
        commandOutput("convert -version 2>/dev/null").find("ImageMagick") != std::string::npos;
    return found;
}

// ImageMagick's decoding as 8-bit red, green, blue, top row first.
std::string decodedByImageMagick(const std::string& path)
{
    return commandOutput("convert '" + path + "' -depth 8 rgb:- 2>/dev/null");
}

} // namespace

TEST(BmpSuiteEveryFile, BadFilesAreRejectedWithOneErrorLine)
{
    std::vector<std::string> bad = filesIn("b");
    ASSERT_FALSE(bad.empty()) << "no BMP suite under " << suite;
    for (const std::string& name : bad) {
        outcome o = read(name);
        EXPECT_EQ(o.image, nullptr) << name;
        EXPECT_EQ(o.text.rfind("ERROR: ", 0), 0u) << name << ": " << o.text;
        EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 1) << name << ": " << o.text;
    }
}

TEST(BmpSuiteEveryFile, OtherFilesReadQuietlyOrGiveOneErrorLine)
{
    std::vector<std::string> names = filesIn("g");
    std::vector<std::string> questionable = filesIn("q");
    names.insert(names.end(), questionable.begin(), questionable.end());
    ASSERT_FALSE(names.empty()) << "no BMP suite under " << suite;
    int readCount = 0;
    for (const std::string& name : names) {
        outcome o = read(name);
        if (o.image) {
            ++readCount;
            EXPECT_EQ(o.text, "") << name;
            // The size stored in the headers, with a top-down height made positive.
            std::vector<uint8_t> bytes = bytesOf(suite + name);
            int32_t height = static_cast<int32_t>(le32(bytes, 22));
            EXPECT_EQ(o.image->width, static_cast<int32_t>(le32(bytes, 18))) << name;
            EXPECT_EQ(o.image->height, height < 0 ? -height : height) << name;
        } else {
            EXPECT_EQ(o.text.rfind("ERROR: ", 0), 0u) << name << ": " << o.text;
            EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 1) << name << ": " << o.text;
        }
    }
    EXPECT_GE(readCount, 13);
}

// 24-bit files compare directly. An 8-bit file reads as its palette indices (grey levels),
// so its indices are looked up in the file's own palette first: that checks the index of
// every pixel, which is all the reader is asked to keep.
TEST(BmpSuiteImageMagick, PixelsOfEveryReadableFileMatch)
{
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    // Only the good files: decoders disagree on questionable ones (ImageMagick reads the OS/2
    // v2 copy of pal8.bmp, same palette and same pixel bytes, with other colours).
    std::vector<std::string> names = filesIn("g");
    int compared = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        outcome o = read(name);
        if (!o.image || o.image->bytesPerPixel == 4)
            continue;
        const bitmap& b = *o.image;
        std::string theirs = decodedByImageMagick(suite + name);
        ASSERT_EQ(theirs.size(), static_cast<size_t>(b.width) * b.height * 3);

        std::vector<uint8_t> file = bytesOf(suite + name);
        const size_t paletteAt = 14 + le32(file, 14);
        int mismatches = 0;
        for (int y = 0; y < b.height && mismatches < 5; ++y)
            for (int x = 0; x < b.width && mismatches < 5; ++x) {
                const uint8_t* p = b.pixels.get() + static_cast<size_t>(b.bytesPerPixel) * (x + y * static_cast<size_t>(b.width));
                uint8_t rgb[3];
                if (b.bytesPerPixel == 3) {
                    std::copy(p, p + 3, rgb);
                } else {
                    size_t entry = paletteAt + 4 * static_cast<size_t>(p[0]);
                    ASSERT_LT(entry + 2, file.size());
                    rgb[0] = file[entry + 2];
                    rgb[1] = file[entry + 1];
                    rgb[2] = file[entry];
                }
                // Our rows run bottom up, ImageMagick's top down.
                size_t at = 3 * (static_cast<size_t>(b.height - 1 - y) * b.width + x);
                for (int c = 0; c < 3; ++c)
                    if (rgb[c] != static_cast<uint8_t>(theirs[at + c])) {
                        ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": "
                                      << int(rgb[c]) << " vs " << int(static_cast<uint8_t>(theirs[at + c]));
                        ++mismatches;
                        break;
                    }
            }
        ++compared;
    }
    EXPECT_GE(compared, 12);
}
