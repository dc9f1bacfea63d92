#include "core/console.h"
#include "core/imagesource.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>

// libpng reports errors by calling back and never returning, so its calls run in a frame that
// holds plain data only (decodeRows); everything that must be freed is freed by its caller.

namespace {

enum class outcome { read, failed, tooLarge, noMemory };

// Besides the bitmap, libpng holds two rows as the file stores them (up to 8 bytes a pixel);
// wider rows are refused, which keeps those within 32 MiB.
const size_t maxStoredRowBytes = size_t(16) << 20;

struct pngState {
    imageSource* in;
    std::jmp_buf jump;
    char message[160];
    png_structp png = nullptr;
    png_infop info = nullptr;
    bitmap* image = nullptr;
    png_uint_32 width = 0, height = 0;
    colourTable* palette = nullptr; // filled for palette images, else its size stays 0
};

// Library text goes into our one line only, printable and short.
void keepMessage(pngState* s, const char* text)
{
    size_t n = 0;
    for (; text && text[n] && n + 1 < sizeof s->message; ++n)
        s->message[n] = (text[n] >= ' ' && text[n] < 127) ? text[n] : ' ';
    s->message[n] = '\0';
}

void onError(png_structp png, png_const_charp text)
{
    pngState* s = static_cast<pngState*>(png_get_error_ptr(png));
    keepMessage(s, text);
    std::longjmp(s->jump, 1);
}

void onWarning(png_structp, png_const_charp) {} // what libpng can mend is no concern of ours

void onRead(png_structp png, png_bytep to, size_t n)
{
    pngState* s = static_cast<pngState*>(png_get_io_ptr(png));
    if (s->in->read(to, n) != n)
        png_error(png, s->in->failed() ? "read error" : "the file ends too early");
}

outcome decodeRows(pngState* s)
{
    if (setjmp(s->jump))
        return outcome::failed;
    png_structp png = s->png;
    png_infop info = s->info;
    png_set_read_fn(png, s, onRead);
    // Our own size limit applies, not libpng's default of a million pixels a side.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // Ancillary chunks change nothing we make (no gamma, no background, alpha dropped), so libpng
    // reads past them in small pieces, whatever length they claim, and keeps none.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // Should libpng still hold a chunk, one of 8 MiB at most and few of them; the one it reads
    // besides the critical ones, transparency, takes 256 bytes.
    png_set_chunk_cache_max(png, 32);
    png_set_chunk_malloc_max(png, size_t(8) << 20);
    png_read_info(png, info);
    int depth = 0, type = 0;
    png_get_IHDR(png, info, &s->width, &s->height, &depth, &type, nullptr, nullptr, nullptr);
    const bool palette = type == PNG_COLOR_TYPE_PALETTE;
    const bool grey = (type & PNG_COLOR_MASK_COLOR) == 0;
    const int bytesPerPixel = palette || grey ? 1 : 3;
    const size_t bytes = pixelBlockSize(static_cast<int>(s->width), static_cast<int>(s->height), bytesPerPixel);
    if (bytes == 0 || bytes > s->in->maxBytes || png_get_rowbytes(png, info) > maxStoredRowBytes)
        return outcome::tooLarge;

    if (palette) {
        png_set_packing(png); // one index a byte
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) == 0)
            png_error(png, "palette image without a palette");
        s->palette->size = static_cast<unsigned>(count);
        for (int i = 0; i < count && i < 256; ++i) {
            s->palette->rgb[i][0] = entries[i].red;
            s->palette->rgb[i][1] = entries[i].green;
            s->palette->rgb[i][2] = entries[i].blue;
        }
    } else if (grey && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    png_set_scale_16(png);
    png_set_strip_alpha(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != s->width * bytesPerPixel)
        png_error(png, "unexpected row layout");

    s->image = new (std::nothrow) bitmap(static_cast<int>(s->width), static_cast<int>(s->height), bytesPerPixel);
    if (!s->image || !s->image->pixels)
        return outcome::noMemory;
    // PNG rows run top down, a bitmap's bottom up. Row by row, as png_read_image would, but
    // without its table of a pointer a row, 8 bytes for each byte of a 1-pixel-wide image.
    const size_t rowBytes = static_cast<size_t>(s->width) * bytesPerPixel;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < s->height; ++y)
            png_read_row(png, s->image->pixels.get() + rowBytes * (s->height - 1 - y), nullptr);
    png_read_end(png, nullptr);
    return outcome::read;
}

} // namespace

std::unique_ptr<bitmap> readPngFrom(imageSource& in, const std::string& name)
{
    const char* file = name.c_str();
    pngState s;
    s.in = &in;
    s.message[0] = '\0';
    colourTable palette;
    s.palette = &palette;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (s.png)
        s.info = png_create_info_struct(s.png);
    outcome result = s.info ? decodeRows(&s) : outcome::noMemory;
    png_destroy_read_struct(&s.png, &s.info, nullptr);
    std::unique_ptr<bitmap> image(s.image);

    switch (result) {
    case outcome::failed:
        say("ERROR: PNG file '%s' could not be read (%s)!\n", file, s.message);
        return nullptr;
    case outcome::tooLarge:
        say("ERROR: PNG file '%s' is too large (%u x %u pixels)!\n", file, s.width, s.height);
        return nullptr;
    case outcome::noMemory:
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    default:
        break;
    }
    if (palette.size > 0)
        return applyColourTable(std::move(image), palette, "PNG", name);
    return image;
}
