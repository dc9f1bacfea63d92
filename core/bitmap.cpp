#include "core/bitmap.h"

#include "core/console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const colour black(0, 0, 0, 255);

// Bytes of one image of the given size, or 0 when a size is not positive or the block would
// pass 2 GiB: pixel offsets are computed in int throughout the system.
size_t blockSize(int width, int height, int bytesPerPixel)
{
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0)
        return 0;
    int n = 0;
    if (__builtin_mul_overflow(width, height, &n) || __builtin_mul_overflow(n, bytesPerPixel, &n))
        return 0;
    return static_cast<size_t>(n);
}

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void write16(uint8_t* p, uint32_t v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; }
void write32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (v >> (8 * i)) & 0xFF;
}

const size_t fileHeaderSize = 14;
const size_t infoHeaderSize = 40;

// Range test shared by the pixel operations; reports the first coordinate that fails.
bool inRange(const bitmap& b, long long x, long long y)
{
    if (x < 0 || x >= b.width) {
        say("ERROR: X value is out of range!\n");
        return false;
    }
    if (y < 0 || y >= b.height) {
        say("ERROR: Y value is out of range!\n");
        return false;
    }
    return b.pixels != nullptr;
}

// (size x t) truncated and wrapped into 0..size-1, so that a look-up just left of or below
// the image (a bump gradient at column or row 0) reads the opposite edge; huge or undefined
// values land out of range instead of overflowing.
long long wrappedTexel(int size, float t)
{
    float scaledT = static_cast<float>(size) * t;
    if (!std::isfinite(scaledT) || size <= 0)
        return -1;
    long long texel = static_cast<long long>(std::fmod(std::trunc(static_cast<double>(scaledT)), size));
    return texel < 0 ? texel + size : texel;
}

// The most of a file that decodeBmp can use, judged from its headers: nothing after the
// pixel block, and nothing after headers that it must reject for their size or depth.
uint64_t usefulLength(const uint8_t* data)
{
    const uint64_t headers = fileHeaderSize + infoHeaderSize;
    const uint8_t* info = data + fileHeaderSize;
    int32_t width = static_cast<int32_t>(read32(info + 4));
    int32_t height = static_cast<int32_t>(read32(info + 8));
    uint16_t bitCount = read16(info + 14);
    if (read16(data) != 0x4D42 || (bitCount != 8 && bitCount != 24 && bitCount != 32) ||
        width <= 0 || height == 0 || height == INT32_MIN)
        return headers;
    int rows = height < 0 ? -height : height;
    if (blockSize(width, rows, bitCount / 8) == 0)
        return headers;
    uint64_t stride = (static_cast<uint64_t>(width) * (bitCount / 8) + 3) & ~uint64_t(3);
    return read32(data + 10) + stride * static_cast<uint64_t>(rows);
}

} // namespace

bitmap::bitmap(int width, int height, int bytesPerPixel)
    : width(width), height(height), bytesPerPixel(bytesPerPixel)
{
    size_t n = blockSize(width, height, bytesPerPixel);
    if (n > 0)
        pixels.reset(new (std::nothrow) uint8_t[n]);
}

size_t bitmap::byteCount() const
{
    return pixels ? blockSize(width, height, bytesPerPixel) : 0;
}

colour bitmap::pixelAt(int x, int y) const
{
    if (!inRange(*this, x, y))
        return black;
    size_t i = static_cast<size_t>(bytesPerPixel) * (static_cast<size_t>(x) + static_cast<size_t>(y) * width);
    if (bytesPerPixel == 3)
        return colour(pixels[i], pixels[i + 1], pixels[i + 2], 255);
    return colour(pixels[i], pixels[i], pixels[i], 255);
}

colour bitmap::sampleAt(float u, float v) const
{
    long long x = wrappedTexel(width, u);
    long long y = wrappedTexel(height, v);
    if (!inRange(*this, x, y))
        return black;
    return pixelAt(static_cast<int>(x), static_cast<int>(y));
}

void bitmap::setPixel(int x, int y, colour col)
{
    if (!inRange(*this, x, y))
        return;
    size_t i = static_cast<size_t>(bytesPerPixel) * (static_cast<size_t>(x) + static_cast<size_t>(y) * width);
    if (bytesPerPixel == 3) {
        pixels[i] = static_cast<uint8_t>(col.red & 0xFF);
        pixels[i + 1] = static_cast<uint8_t>(col.green & 0xFF);
        pixels[i + 2] = static_cast<uint8_t>(col.blue & 0xFF);
    } else {
        pixels[i] = static_cast<uint8_t>(col.alpha & 0xFF);
    }
}

std::unique_ptr<bitmap> decodeBmp(const uint8_t* data, size_t size, const std::string& name)
{
    const char* file = name.c_str();
    if (size < 2 || read16(data) != 0x4D42) {
        say("ERROR: Not a valid BMP file!\n");
        return nullptr;
    }
    if (size < fileHeaderSize + infoHeaderSize) {
        say("ERROR: BMP file '%s' is truncated!\n", file);
        return nullptr;
    }
    const uint8_t* info = data + fileHeaderSize;
    uint32_t offBits = read32(data + 10);
    uint32_t headerSize = read32(info);
    int32_t width = static_cast<int32_t>(read32(info + 4));
    int32_t height = static_cast<int32_t>(read32(info + 8));
    uint16_t planes = read16(info + 12);
    uint16_t bitCount = read16(info + 14);
    uint32_t compression = read32(info + 16);
    uint32_t sizeImage = read32(info + 20);
    uint32_t coloursUsed = read32(info + 32);

    // Smaller headers (the old 12- and 16-byte forms) put the sizes elsewhere.
    if (headerSize < infoHeaderSize || planes != 1) {
        say("ERROR: BMP file '%s' has an unsupported header!\n", file);
        return nullptr;
    }
    if (bitCount != 8 && bitCount != 24 && bitCount != 32) {
        say("ERROR: BMP file '%s' has %d bits per pixel; only 8, 24 and 32 are supported!\n",
            file, bitCount);
        return nullptr;
    }
    if (compression != 0) {
        say("ERROR: BMP file '%s' is compressed; only uncompressed files are supported!\n", file);
        return nullptr;
    }
    // A negative height marks a top-down file; the most negative one has no positive twin.
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        say("ERROR: BMP file '%s' has an invalid size of %d x %d pixels!\n", file, width, height);
        return nullptr;
    }
    bool topDown = height < 0;
    int rows = topDown ? -height : height;
    int bytesPerPixel = bitCount / 8;
    if (bitCount == 8 && coloursUsed > 256) {
        say("ERROR: BMP file '%s' has a palette of %u colours; at most 256 are allowed!\n", file,
            coloursUsed);
        return nullptr;
    }

    // BMP rows are bottom-up, each padded to a multiple of 4 bytes.
    size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    size_t stride = (rowBytes + 3) & ~static_cast<size_t>(3);
    size_t imageBytes = 0;
    if (__builtin_mul_overflow(stride, static_cast<size_t>(rows), &imageBytes) ||
        blockSize(width, rows, bytesPerPixel) == 0) {
        say("ERROR: BMP file '%s' is too large (%d x %d pixels)!\n", file, width, rows);
        return nullptr;
    }
    // A size of 0 is allowed for uncompressed files and means "as the dimensions say".
    if (sizeImage != 0 && sizeImage != imageBytes) {
        say("ERROR: BMP file '%s' declares %u bytes of pixels where %d x %d pixels take %zu!\n",
            file, sizeImage, width, rows, imageBytes);
        return nullptr;
    }
    if (offBits < fileHeaderSize + headerSize || offBits > size) {
        say("ERROR: BMP file '%s' has its pixels at offset %u, outside the file!\n", file, offBits);
        return nullptr;
    }
    if (size - offBits < imageBytes) {
        say("ERROR: BMP file '%s' is truncated!\n", file);
        return nullptr;
    }

    auto b = std::make_unique<bitmap>(width, rows, bytesPerPixel);
    if (!b->pixels) {
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    }
    const uint8_t* source = data + offBits;
    unsigned paletteSize = (bitCount == 8 && coloursUsed != 0) ? coloursUsed : 256;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* from = source + stride * static_cast<size_t>(topDown ? rows - 1 - y : y);
        uint8_t* to = b->pixels.get() + rowBytes * static_cast<size_t>(y);
        if (bytesPerPixel == 3) {
            for (size_t i = 0; i < rowBytes; i += 3) {
                to[i] = from[i + 2];
                to[i + 1] = from[i + 1];
                to[i + 2] = from[i];
            }
            continue;
        }
        std::memcpy(to, from, rowBytes);
        if (bytesPerPixel == 1) {
            // The palette is not used (pixels become grey levels equal to their index), but an
            // index past its end marks a damaged file.
            for (size_t i = 0; i < rowBytes; ++i)
                if (to[i] >= paletteSize) {
                    say("ERROR: BMP file '%s' has a pixel outside its palette of %u colours!\n",
                        file, paletteSize);
                    return nullptr;
                }
        }
    }
    return b;
}

std::unique_ptr<bitmap> readBmp(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        say("ERROR: File '%s' could not be opened!\n", path.c_str());
        return nullptr;
    }
    // Read no further than the headers say the image reaches, so that a huge file, or a
    // device that never ends, is not taken into memory whole.
    std::vector<uint8_t> data;
    uint64_t wanted = fileHeaderSize + infoHeaderSize;
    bool sized = false;
    uint8_t chunk[65536];
    while (data.size() < wanted) {
        size_t ask = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, wanted - data.size()));
        size_t got = std::fread(chunk, 1, ask, f);
        if (got == 0)
            break;
        data.insert(data.end(), chunk, chunk + got);
        if (!sized && data.size() >= fileHeaderSize + infoHeaderSize) {
            wanted = usefulLength(data.data());
            sized = true;
        }
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        say("ERROR: File '%s' could not be read!\n", path.c_str());
        return nullptr;
    }
    return decodeBmp(data.data(), data.size(), path);
}

std::vector<uint8_t> encodeBmp(const bitmap& b)
{
    size_t pixelBytes = b.byteCount();
    if (pixelBytes == 0)
        return {};
    size_t rowBytes = static_cast<size_t>(b.width) * b.bytesPerPixel;
    size_t stride = (rowBytes + 3) & ~static_cast<size_t>(3);
    size_t imageBytes = stride * static_cast<size_t>(b.height);
    size_t headerBytes = fileHeaderSize + infoHeaderSize;
    if (imageBytes > UINT32_MAX - headerBytes)
        return {};

    std::vector<uint8_t> out(headerBytes + imageBytes, 0);
    uint8_t* h = out.data();
    write16(h, 0x4D42);
    write32(h + 2, static_cast<uint32_t>(headerBytes + imageBytes));
    write32(h + 10, static_cast<uint32_t>(headerBytes));
    uint8_t* info = h + fileHeaderSize;
    write32(info, infoHeaderSize);
    write32(info + 4, static_cast<uint32_t>(b.width));
    write32(info + 8, static_cast<uint32_t>(b.height));
    write16(info + 12, 1);
    write16(info + 14, static_cast<uint32_t>(8 * b.bytesPerPixel));
    write32(info + 20, static_cast<uint32_t>(imageBytes));

    for (int y = 0; y < b.height; ++y) {
        const uint8_t* from = b.pixels.get() + rowBytes * static_cast<size_t>(y);
        uint8_t* to = out.data() + headerBytes + stride * static_cast<size_t>(y);
        if (b.bytesPerPixel == 3) {
            for (size_t i = 0; i < rowBytes; i += 3) {
                to[i] = from[i + 2];
                to[i + 1] = from[i + 1];
                to[i + 2] = from[i];
            }
        } else {
            std::memcpy(to, from, rowBytes);
        }
    }
    return out;
}

bool writeBmp(const std::string& path, const bitmap* b)
{
    if (!b) {
        say("ERROR: Pointer to bitmap is NULL!\n");
        return false;
    }
    if (!b->pixels) {
        say("ERROR: Bitmap is empty!\n");
        return false;
    }
    // Written beside the target and renamed over it only when complete, so a failed write
    // never leaves a damaged image under the real name.
    std::string partial = path + ".partial";
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) {
        say("ERROR: Could not open BMP file '%s' for writing!\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> image;
    try {
        image = encodeBmp(*b);
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        std::remove(partial.c_str());
        say("ERROR:Could not allocate enough memory for temporary bitmap!\n");
        return false;
    }
    if (image.empty()) {
        std::fclose(f);
        std::remove(partial.c_str());
        say("ERROR: Bitmap '%s' is too large for a BMP file!\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok) {
        std::remove(partial.c_str());
        say("ERROR: Could not write BMP file '%s'!\n", path.c_str());
        return false;
    }
    return true;
}
