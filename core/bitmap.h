#pragma once

#include "core/colour.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An image: rows bottom first with no padding, 3-byte pixels in red-green-blue order
// (the order OpenGL takes texture images and returns glReadPixels data).
class bitmap {
public:
    // Allocates the pixel block (content undefined) when both sizes are positive; leaves it
    // empty when either is not, or when it cannot be allocated.
    bitmap(int width, int height, int bytesPerPixel);
    bitmap(const bitmap&) = delete;
    bitmap& operator=(const bitmap&) = delete;
    virtual ~bitmap() = default;

    // Out of range: prints the x (or else y) message and gives black with alpha 255.
    colour pixelAt(int x, int y) const;
    // Normalised look-up that wraps both ways: 1.0 reads column 0, -0.25 of a width of 4 reads 3.
    colour sampleAt(float u, float v) const;
    void setPixel(int x, int y, colour col);

    size_t byteCount() const; // width x height x bytesPerPixel, 0 without a block

    int width;
    int height;
    int bytesPerPixel; // 3 for colour, 1 for grey
    std::unique_ptr<uint8_t[]> pixels; // none when a size is 0 or below
};

// Bytes of a block of the given size, or 0 when a size is not positive or the block would pass
// 2 GiB: pixel offsets are computed in int throughout the system. Every reader keeps to it.
size_t pixelBlockSize(int width, int height, int bytesPerPixel);

// A new bitmap from a BMP file: 1-, 4- and 8-bit palette images (also run-length encoded),
// 16- and 32-bit bit fields, 24- and 32-bit plain pixels. Palette images whose entries are all
// grey give 1 byte a pixel, other palette and bit-field images 3; plain 32-bit pixels are kept
// as stored (blue, green, red, unused). None (after one "ERROR: " line) for anything it cannot
// read whole.
std::unique_ptr<bitmap> readBmp(const std::string& path);
// The same from the bytes of a file; name is used in messages.
std::unique_ptr<bitmap> decodeBmp(const uint8_t* data, size_t size, const std::string& name);

// Writes the bytes to path through a file beside it that is renamed over it only when
// complete; false after one "ERROR: " line naming the kind of file, leaving no partial file.
bool writeWholeFile(const std::string& path, const void* bytes, size_t size, const char* kind = "file");
inline bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, const char* kind = "file")
{
    return writeWholeFile(path, bytes.data(), bytes.size(), kind);
}
// Writes a standard BMP file with rows padded to 4 bytes. False (after one "ERROR: " line)
// when nothing or only part could be written; no partial file is left behind.
bool writeBmp(const std::string& path, const bitmap* b);
// The complete file image that writeBmp would write; empty for a bitmap without a block.
std::vector<uint8_t> encodeBmp(const bitmap& b);
