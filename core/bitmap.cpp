#include "core/bitmap.h"

#include "core/console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const colour black(0, 0, 0, 255);

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

} // namespace

size_t pixelBlockSize(int width, int height, int bytesPerPixel)
{
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0)
        return 0;
    int n = 0;
    if (__builtin_mul_overflow(width, height, &n) || __builtin_mul_overflow(n, bytesPerPixel, &n))
        return 0;
    return static_cast<size_t>(n);
}

bitmap::bitmap(int width, int height, int bytesPerPixel)
    : width(width), height(height), bytesPerPixel(bytesPerPixel)
{
    size_t n = pixelBlockSize(width, height, bytesPerPixel);
    if (n > 0)
        pixels.reset(new (std::nothrow) uint8_t[n]);
}

size_t bitmap::byteCount() const
{
    return pixels ? pixelBlockSize(width, height, bytesPerPixel) : 0;
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

bool writeWholeFile(const std::string& path, const void* bytes, size_t size, const char* kind)
{
    // Written beside the target and renamed over it only when complete, so a failed write
    // never leaves a damaged file under the real name.
    const std::string partial = path + ".partial";
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) {
        say("ERROR: Could not open %s '%s' for writing!\n", kind, path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes, 1, size, f) == size;
    ok = (std::fflush(f) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok) {
        std::remove(partial.c_str());
        say("ERROR: Could not write %s '%s'!\n", kind, path.c_str());
    }
    return ok;
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
    std::vector<uint8_t> image;
    try {
        image = encodeBmp(*b);
    } catch (const std::bad_alloc&) {
        say("ERROR:Could not allocate enough memory for temporary bitmap!\n");
        return false;
    }
    if (image.empty()) {
        say("ERROR: Bitmap '%s' is too large for a BMP file!\n", path.c_str());
        return false;
    }
    return writeWholeFile(path, image, "BMP file");
}
