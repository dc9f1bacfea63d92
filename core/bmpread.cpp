#include "core/bitmap.h"
#include "core/console.h"
#include "core/imagesource.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

const size_t fileHeaderSize = 14;
// The largest information header (124 bytes), the three masks that may follow one, and the
// largest palette: all that the headers' tests look at (the palette decides the depth of the
// bitmap, and so whether it keeps to the size limit).
const size_t headersAndPalette = fileHeaderSize + 124 + 12 + 256 * 4;

enum compression : uint32_t { plain = 0, rle8 = 1, rle4 = 2, bitFields = 3 };

// What the headers say, once they have passed every test that needs no more of the file.
struct bmpLayout {
    uint32_t declaredFileSize;
    uint32_t offBits;
    int width, rows;
    bool topDown;
    int bitCount;
    uint32_t compression;
    size_t stride;       // bytes of one stored row of an uncompressed file
    uint64_t pixelBytes; // stored bytes of the whole pixel block
    uint32_t masks[3];   // red, green, blue of 16- and 32-bit pixels
    colourTable palette; // palette images only
    int bytesPerPixel;   // of the bitmap made
};

int bitsIn(uint32_t mask) { return __builtin_popcount(mask); }

// A mask's field as 8 bits: its bits repeated from the top down, so that all ones become 255
// and all zeros 0.
uint8_t channel(uint32_t pixel, uint32_t mask)
{
    int bits = bitsIn(mask);
    uint32_t v = (pixel & mask) >> __builtin_ctz(mask);
    uint64_t repeated = v;
    int filled = bits;
    for (; filled < 8; filled += bits)
        repeated = (repeated << bits) | v;
    return static_cast<uint8_t>(repeated >> (filled - 8));
}

// Red, green and blue each one run of ones, apart from each other and inside the pixel.
bool validMasks(const uint32_t masks[3], int bitCount)
{
    uint64_t room = (uint64_t(1) << bitCount) - 1;
    uint32_t seen = 0;
    for (int i = 0; i < 3; ++i) {
        uint32_t m = masks[i];
        // Adding the lowest bit of a single run carries through all of it.
        uint64_t carried = static_cast<uint64_t>(m) + (m & (~m + 1));
        if (m == 0 || m > room || (m & seen) || (carried & m) != 0)
            return false;
        seen |= m;
    }
    return true;
}

// The widths that writers use: 5 or 6 bits a channel in 16-bit pixels, 8 in 32-bit ones.
// Other widths have no agreed way to 8 bits (decoders disagree on them), so they are refused.
bool supportedMasks(const uint32_t masks[3], int bitCount)
{
    for (int i = 0; i < 3; ++i) {
        int bits = bitsIn(masks[i]);
        if (bitCount == 16 ? bits != 5 && bits != 6 : bits != 8)
            return false;
    }
    return true;
}

// The messages that several checks end in; each says its line and gives false.
bool truncated(const char* file)
{
    say("ERROR: BMP file '%s' is truncated!\n", file);
    return false;
}

bool pixelsOutsideFile(const char* file, uint32_t offBits)
{
    say("ERROR: BMP file '%s' has its pixels at offset %u, outside the file!\n", file, offBits);
    return false;
}

bool unsupportedHeader(const char* file)
{
    say("ERROR: BMP file '%s' has an unsupported header!\n", file);
    return false;
}

// The fields of the information header, whichever its kind.
struct infoHeader {
    uint32_t size = 0;
    int32_t width = 0, height = 0;
    uint16_t planes = 0;
    uint32_t sizeImage = 0, xDensity = 0, yDensity = 0, coloursUsed = 0;
    bool os2v1() const { return size == 12; }
    bool os2v2() const { return size == 16; }
};

// The file header and the information header. 12 bytes: the first OS/2 form; 16: the
// second; 40 and up: Windows, the later ones adding masks, colour space and profile after the
// first 40 bytes. The 64-byte OS/2 form is not taken: readers disagree on its palette's colours.
bool readHeaders(const uint8_t* data, size_t size, const char* file, infoHeader& h, bmpLayout& l)
{
    if (size < 2 || read16(data) != 0x4D42) {
        say("ERROR: Not a valid BMP file!\n");
        return false;
    }
    if (size < fileHeaderSize + 4)
        return truncated(file);
    const uint8_t* info = data + fileHeaderSize;
    h.size = read32(info);
    if (!h.os2v1() && !h.os2v2() && h.size != 40 && h.size != 52 && h.size != 56 && h.size != 108 && h.size != 124)
        return unsupportedHeader(file);
    if (size < fileHeaderSize + h.size)
        return truncated(file);
    l.declaredFileSize = read32(data + 2);
    l.offBits = read32(data + 10);
    l.compression = plain;
    if (h.os2v1()) {
        h.width = read16(info + 4);
        h.height = read16(info + 6);
        h.planes = read16(info + 8);
        l.bitCount = read16(info + 10);
        return true;
    }
    h.width = static_cast<int32_t>(read32(info + 4));
    h.height = static_cast<int32_t>(read32(info + 8));
    h.planes = read16(info + 12);
    l.bitCount = read16(info + 14);
    if (h.size >= 40) {
        l.compression = read32(info + 16);
        h.sizeImage = read32(info + 20);
        h.xDensity = read32(info + 24);
        h.yDensity = read32(info + 28);
        h.coloursUsed = read32(info + 32);
    }
    return true;
}

// Whether the header describes a picture this reader takes: its depth, coding, size, palette
// and density; sets the size and direction of the layout.
bool checkFormat(const infoHeader& h, const char* file, bmpLayout& l)
{
    if (h.planes != 1)
        return unsupportedHeader(file);
    const int bits = l.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        say("ERROR: BMP file '%s' has %d bits per pixel; only 1, 4, 8, 16, 24 and 32 are supported!\n",
            file, bits);
        return false;
    }
    // The second OS/2 form numbers its own codings from 3 on (Huffman, 24-bit run lengths).
    const bool known = l.compression == plain || (l.compression == rle8 && bits == 8) ||
                       (l.compression == rle4 && bits == 4) ||
                       (l.compression == bitFields && (bits == 16 || bits == 32) && !h.os2v2());
    if (!known) {
        say("ERROR: BMP file '%s' uses compression %u with %d bits per pixel, which is not supported!\n",
            file, l.compression, bits);
        return false;
    }
    // A negative height marks a top-down file; the most negative one has no positive twin.
    if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) {
        say("ERROR: BMP file '%s' has an invalid size of %d x %d pixels!\n", file, h.width, h.height);
        return false;
    }
    l.width = h.width;
    l.topDown = h.height < 0;
    l.rows = l.topDown ? -h.height : h.height;
    if ((l.compression == rle8 || l.compression == rle4) && l.topDown) {
        say("ERROR: BMP file '%s' is run-length encoded yet stored top-down!\n", file);
        return false;
    }
    const unsigned paletteMax = bits <= 8 ? 1u << bits : 256;
    if (bits <= 8 && h.coloursUsed > paletteMax) {
        say("ERROR: BMP file '%s' has a palette of %u colours; at most %u are allowed!\n", file,
            h.coloursUsed, paletteMax);
        return false;
    }
    // No screen or scanner comes near 25,400 dots per inch: such a value is a damaged header.
    const uint32_t densityLimit = 1000000;
    if (h.xDensity > densityLimit || h.yDensity > densityLimit) {
        say("ERROR: BMP file '%s' has an implausible density of %u x %u pixels per metre!\n",
            file, h.xDensity, h.yDensity);
        return false;
    }
    return true;
}

// The colour masks of 16- and 32-bit pixels: from the header, from the three words after it
// (then the palette starts after them), or 5-5-5 for 16-bit pixels without bit fields.
bool readMasks(const uint8_t* data, size_t size, const char* file, const infoHeader& h, size_t& paletteAt, bmpLayout& l)
{
    const int bits = l.bitCount;
    if (l.compression != bitFields) {
        if (bits == 16) {
            l.masks[0] = 0x7C00;
            l.masks[1] = 0x03E0;
            l.masks[2] = 0x001F;
        }
        return true;
    }
    if (h.size >= 52) {
        for (int i = 0; i < 3; ++i)
            l.masks[i] = read32(data + fileHeaderSize + 40 + 4 * i);
    } else {
        if (size < paletteAt + 12)
            return truncated(file);
        for (int i = 0; i < 3; ++i)
            l.masks[i] = read32(data + paletteAt + 4 * i);
        paletteAt += 12;
        if (l.offBits < paletteAt) // the masks would be pixels
            return pixelsOutsideFile(file, l.offBits);
    }
    if (!validMasks(l.masks, bits)) {
        say("ERROR: BMP file '%s' has invalid colour masks %08x, %08x, %08x!\n", file, l.masks[0], l.masks[1],
            l.masks[2]);
        return false;
    }
    if (!supportedMasks(l.masks, bits)) {
        say("ERROR: BMP file '%s' has colour masks %08x, %08x, %08x; only 5- or 6-bit channels "
            "of 16-bit pixels and 8-bit channels of 32-bit pixels are supported!\n",
            file, l.masks[0], l.masks[1], l.masks[2]);
        return false;
    }
    return true;
}

// The palette of an image of 8 bits or fewer, and the bytes a pixel of the bitmap made takes.
// Entries the palette declares but the file has no room for (writeBmp's own grey files carry
// none) stand for the grey level of their index.
void readPalette(const uint8_t* data, size_t size, const infoHeader& h, size_t paletteAt, bmpLayout& l)
{
    const int bits = l.bitCount;
    l.bytesPerPixel = bits == 32 && l.compression == plain ? 4 : 3;
    if (bits > 8)
        return;
    const size_t entrySize = h.os2v1() ? 3 : 4;
    const size_t end = std::min<size_t>(l.offBits, size);
    const size_t room = end > paletteAt ? (end - paletteAt) / entrySize : 0;
    l.palette.size = h.coloursUsed ? h.coloursUsed : 1u << bits;
    for (unsigned i = 0; i < l.palette.size; ++i) {
        uint8_t* c = l.palette.rgb[i];
        if (i < room) {
            const uint8_t* e = data + paletteAt + entrySize * i;
            c[0] = e[2];
            c[1] = e[1];
            c[2] = e[0];
        } else {
            c[0] = c[1] = c[2] = static_cast<uint8_t>(i);
        }
    }
    l.bytesPerPixel = l.palette.grey() ? 1 : 3;
}

// The stored size of the pixel block, from the dimensions or for run lengths the header.
bool sizePixels(const infoHeader& h, const char* file, bmpLayout& l)
{
    // BMP rows are bottom-up, each padded to a multiple of 4 bytes.
    const uint64_t rowBits = static_cast<uint64_t>(l.width) * l.bitCount;
    l.stride = static_cast<size_t>(((rowBits + 31) / 32) * 4);
    const uint64_t imageBytes = static_cast<uint64_t>(l.stride) * static_cast<uint64_t>(l.rows);
    if (imageBytes > UINT32_MAX || pixelBlockSize(l.width, l.rows, l.bytesPerPixel) == 0) {
        say("ERROR: BMP file '%s' is too large (%d x %d pixels)!\n", file, l.width, l.rows);
        return false;
    }
    if (l.compression == rle8 || l.compression == rle4) {
        if (h.sizeImage == 0) {
            say("ERROR: BMP file '%s' gives no size for its run-length encoded pixels!\n", file);
            return false;
        }
        // A run of 255 pixels takes 2 bytes; more pixels than 256 for every byte could only
        // come from skipping most of the picture, which a tiny file claiming a huge image does.
        if (static_cast<uint64_t>(l.width) * static_cast<uint64_t>(l.rows) > 256 * uint64_t(h.sizeImage)) {
            say("ERROR: BMP file '%s' declares %d x %d pixels, more than %u bytes of run lengths can hold!\n",
                file, l.width, l.rows, h.sizeImage);
            return false;
        }
        l.pixelBytes = h.sizeImage;
        return true;
    }
    // A size of 0 is allowed for uncompressed files and means "as the dimensions say".
    if (h.sizeImage != 0 && h.sizeImage != imageBytes) {
        say("ERROR: BMP file '%s' declares %u bytes of pixels where %d x %d pixels take %llu!\n", file,
            h.sizeImage, l.width, l.rows, static_cast<unsigned long long>(imageBytes));
        return false;
    }
    l.pixelBytes = imageBytes;
    return true;
}

// Reads and tests the headers. Uses nothing past the palette, and of the file's size only
// whether the headers and palette are there, so that a reader may stop after the pixel block.
bool parseLayout(const uint8_t* data, size_t size, const char* file, bmpLayout& l)
{
    infoHeader h;
    if (!readHeaders(data, size, file, h, l) || !checkFormat(h, file, l))
        return false;
    size_t paletteAt = fileHeaderSize + h.size;
    if (!readMasks(data, size, file, h, paletteAt, l))
        return false;
    readPalette(data, size, h, paletteAt, l);
    if (!sizePixels(h, file, l))
        return false;
    return l.offBits >= paletteAt || pixelsOutsideFile(file, l.offBits);
}

// Run-length encoded indices into a block of one byte a pixel, bottom row first. Pixels that
// the codes skip keep index 0.
bool unpackRunLengths(const uint8_t* p, size_t n, const bmpLayout& l, bitmap& out, const char* file)
{
    const int w = l.width, h = l.rows;
    const bool nibbles = l.compression == rle4;
    std::memset(out.pixels.get(), 0, out.byteCount());
    int x = 0, y = 0;
    size_t i = 0;
    auto outside = [file] {
        say("ERROR: BMP file '%s' has run lengths that reach outside the image!\n", file);
        return false;
    };
    for (;;) {
        if (n - i < 2) {
            if (y >= h) // every row ended, only the closing code is missing
                return true;
            say("ERROR: BMP file '%s' has run lengths that end before the image does!\n", file);
            return false;
        }
        const int count = p[i], value = p[i + 1];
        i += 2;
        if (count > 0) {
            if (y >= h || count > w - x)
                return outside();
            uint8_t* to = out.pixels.get() + static_cast<size_t>(y) * w + x;
            for (int k = 0; k < count; ++k)
                to[k] = static_cast<uint8_t>(!nibbles ? value : (k & 1) ? value & 15 : value >> 4);
            x += count;
            continue;
        }
        if (value == 0) { // end of row
            if (++y > h)
                return outside();
            x = 0;
        } else if (value == 1) { // end of picture
            return true;
        } else if (value == 2) { // move right and up
            if (n - i < 2) {
                say("ERROR: BMP file '%s' has run lengths that end before the image does!\n", file);
                return false;
            }
            x += p[i];
            y += p[i + 1];
            i += 2;
            if (x > w || y >= h)
                return outside();
        } else { // value pixels stored as they are, padded to a 2-byte boundary
            size_t bytes = nibbles ? (value + 1) / 2 : value;
            size_t padded = bytes + (bytes & 1);
            if (n - i < padded) {
                say("ERROR: BMP file '%s' has run lengths that end before the image does!\n", file);
                return false;
            }
            if (y >= h || value > w - x)
                return outside();
            uint8_t* to = out.pixels.get() + static_cast<size_t>(y) * w + x;
            for (int k = 0; k < value; ++k)
                to[k] = nibbles ? ((k & 1) ? p[i + k / 2] & 15 : p[i + k / 2] >> 4) : p[i + k];
            x += value;
            i += padded;
        }
    }
}

// Stored row of an uncompressed file for bitmap row y (bottom first).
const uint8_t* storedRow(const uint8_t* pixels, const bmpLayout& l, int y)
{
    return pixels + l.stride * static_cast<size_t>(l.topDown ? l.rows - 1 - y : y);
}

std::unique_ptr<bitmap> decode(const uint8_t* data, size_t size, uint64_t fileSize, const char* file)
{
    bmpLayout l;
    if (!parseLayout(data, size, file, l))
        return nullptr;
    if (l.offBits > size) {
        pixelsOutsideFile(file, l.offBits);
        return nullptr;
    }
    if (size - l.offBits < l.pixelBytes) {
        truncated(file);
        return nullptr;
    }
    // A file shorter than its header says has lost its end.
    if (fileSize != UINT64_MAX && l.declaredFileSize > fileSize) {
        say("ERROR: BMP file '%s' declares %u bytes but holds only %llu!\n", file,
            l.declaredFileSize, static_cast<unsigned long long>(fileSize));
        return nullptr;
    }

    const uint8_t* source = data + l.offBits;
    const bool indexed = l.bitCount <= 8;
    auto b = std::make_unique<bitmap>(l.width, l.rows, indexed ? 1 : l.bytesPerPixel);
    if (!b->pixels) {
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    }
    const size_t w = static_cast<size_t>(l.width);
    if (l.compression == rle8 || l.compression == rle4) {
        if (!unpackRunLengths(source, l.pixelBytes, l, *b, file))
            return nullptr;
    } else {
        for (int y = 0; y < l.rows; ++y) {
            const uint8_t* from = storedRow(source, l, y);
            uint8_t* to = b->pixels.get() + w * b->bytesPerPixel * static_cast<size_t>(y);
            switch (l.bitCount) {
            case 1:
            case 4:
                for (size_t x = 0; x < w; ++x) {
                    size_t bit = x * l.bitCount;
                    int shift = 8 - l.bitCount - static_cast<int>(bit % 8);
                    to[x] = static_cast<uint8_t>((from[bit / 8] >> shift) & ((1 << l.bitCount) - 1));
                }
                break;
            case 24:
                for (size_t x = 0; x < w; ++x) {
                    to[3 * x] = from[3 * x + 2];
                    to[3 * x + 1] = from[3 * x + 1];
                    to[3 * x + 2] = from[3 * x];
                }
                break;
            case 16:
            case 32:
                if (l.bytesPerPixel == 4) {
                    std::memcpy(to, from, 4 * w);
                    break;
                }
                for (size_t x = 0; x < w; ++x) {
                    uint32_t v = l.bitCount == 16 ? read16(from + 2 * x) : read32(from + 4 * x);
                    for (int c = 0; c < 3; ++c)
                        to[3 * x + c] = channel(v, l.masks[c]);
                }
                break;
            default:
                std::memcpy(to, from, w);
                break;
            }
        }
    }
    if (indexed)
        return applyColourTable(std::move(b), l.palette, "BMP", file);
    return b;
}

} // namespace

std::unique_ptr<bitmap> decodeBmp(const uint8_t* data, size_t size, const std::string& name)
{
    return decode(data, size, size, name.c_str());
}

std::unique_ptr<bitmap> readBmpFrom(imageSource& in, const std::string& name)
{
    if (!in.file)
        return decode(in.data + in.used, in.size - in.used, in.size - in.used, name.c_str());
    // Read no further than the headers say the image reaches, so that a huge file, or a
    // device that never ends, is not taken into memory whole.
    std::vector<uint8_t> data;
    uint64_t wanted = headersAndPalette;
    bool sized = false;
    uint8_t chunk[65536];
    while (data.size() < wanted) {
        size_t ask = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, wanted - data.size()));
        size_t got = in.read(chunk, ask);
        if (got == 0)
            break;
        data.insert(data.end(), chunk, chunk + got);
        if (!sized && data.size() >= std::min<uint64_t>(headersAndPalette, in.fileSize)) {
            sized = true;
            bmpLayout l;
            consoleCapture quiet; // decode repeats any complaint
            if (parseLayout(data.data(), data.size(), name.c_str(), l))
                wanted = std::max<uint64_t>(wanted, uint64_t(l.offBits) + l.pixelBytes);
            else
                break;
        }
    }
    if (in.failed()) {
        say("ERROR: File '%s' could not be read!\n", name.c_str());
        return nullptr;
    }
    return decode(data.data(), data.size(), in.fileSize, name.c_str());
}

std::unique_ptr<bitmap> readBmp(const std::string& path) { return readImageFile(path, true); }
