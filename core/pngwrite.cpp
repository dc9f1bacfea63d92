#include "core/image.h"

#include "core/console.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace {

struct pngOut {
    std::vector<uint8_t>* bytes;
    std::jmp_buf jump;
};

void onError(png_structp png, png_const_charp)
{
    std::longjmp(static_cast<pngOut*>(png_get_error_ptr(png))->jump, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onWrite(png_structp png, png_bytep data, size_t n)
{
    pngOut* out = static_cast<pngOut*>(png_get_io_ptr(png));
    try {
        out->bytes->insert(out->bytes->end(), data, data + n);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void onFlush(png_structp) {}

// libpng leaves by longjmp on errors, so this frame holds only plain data; the rows are the
// caller's.
bool encodeRows(png_structp png, png_infop info, pngOut* out, const bitmap& b, png_bytep* rows)
{
    if (setjmp(out->jump))
        return false;
    png_set_write_fn(png, out, onWrite, onFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(b.width), static_cast<png_uint_32>(b.height), 8,
                 b.bytesPerPixel == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (b.bytesPerPixel == 4)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

} // namespace

std::vector<uint8_t> encodePng(const bitmap& b)
{
    std::vector<uint8_t> bytes;
    if (!b.pixels || (b.bytesPerPixel != 1 && b.bytesPerPixel != 3 && b.bytesPerPixel != 4))
        return bytes;
    // Plain 32-bit pixels are stored blue, green, red, unused: turned into red, green, blue.
    std::unique_ptr<uint8_t[]> swapped;
    const uint8_t* pixels = b.pixels.get();
    const size_t rowBytes = static_cast<size_t>(b.width) * b.bytesPerPixel;
    std::vector<png_bytep> rows(static_cast<size_t>(b.height));
    try {
        if (b.bytesPerPixel == 4) {
            swapped.reset(new uint8_t[b.byteCount()]);
            for (size_t i = 0; i < b.byteCount(); i += 4) {
                swapped[i] = pixels[i + 2];
                swapped[i + 1] = pixels[i + 1];
                swapped[i + 2] = pixels[i];
                swapped[i + 3] = 0;
            }
            pixels = swapped.get();
        }
    } catch (const std::bad_alloc&) {
        return bytes;
    }
    // The bitmap's rows run bottom first, a PNG's top first.
    for (int y = 0; y < b.height; ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(pixels + rowBytes * static_cast<size_t>(b.height - 1 - y));

    pngOut out{&bytes, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && encodeRows(png, info, &out, b, rows.data());
    png_destroy_write_struct(&png, &info);
    if (!ok)
        bytes.clear();
    return bytes;
}

bool writePng(const std::string& path, const bitmap* b)
{
    if (!b || !b->pixels) {
        say("ERROR: Bitmap is empty!\n");
        return false;
    }
    std::vector<uint8_t> bytes = encodePng(*b);
    if (bytes.empty()) {
        say("ERROR: PNG file '%s' could not be encoded!\n", path.c_str());
        return false;
    }
    return writeWholeFile(path, bytes, "PNG file");
}
