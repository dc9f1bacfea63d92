#include "core/console.h"
#include "core/imagesource.h"

#include <cstdio> // jpeglib.h needs FILE declared first
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

// libjpeg reports errors by calling back and never returning, so its calls run in a frame that
// holds plain data only (decodeRows); everything that must be freed is freed by its caller.

namespace {

enum class outcome { read, failed, tooLarge, noMemory };

// A progressive file may hold any number of scans, each a pass over the blocks of its
// components however few bytes it takes: a small file could keep the decoder busy for
// minutes. Encoders write some ten scans that go over the picture about six times.
const int maxScans = 256;
const int maxPasses = 32;
// libjpeg holds the coefficients of a progressive or multi-scan file whole, as many as its
// header asks for; besides them, its rows and tables stay within this.
const long otherLibraryMemory = 64L << 20;

struct jpegState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    imageSource* in = nullptr;
    bool created = false;
    bitmap* image = nullptr;
    JSAMPLE* inkRow = nullptr; // one row of CMYK samples, for CMYK and YCCK files
    JDIMENSION width = 0, height = 0;
    int precision = 0; // of a file libjpeg refused for it
    int scansCounted = 0;
    unsigned long long blocksScanned = 0, blocksInPicture = 0;
    JOCTET buffer[65536];
};

jpegState* stateOf(j_common_ptr cinfo) { return reinterpret_cast<jpegState*>(cinfo); }

// Library text goes into our one line only, printable and short.
[[noreturn]] void fail(jpegState* s, const char* text)
{
    size_t n = 0;
    for (; text[n] && n + 1 < sizeof s->message; ++n)
        s->message[n] = (text[n] >= ' ' && text[n] < 127) ? text[n] : ' ';
    s->message[n] = '\0';
    std::longjmp(s->jump, 1);
}

[[noreturn]] void onError(j_common_ptr cinfo)
{
    if (cinfo->err->msg_code == JERR_BAD_PRECISION)
        stateOf(cinfo)->precision = cinfo->err->msg_parm.i[0];
    char text[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, text);
    fail(stateOf(cinfo), text);
}

// Warnings (level -1) are about damaged data that libjpeg would draw as best it could; a
// texture is either read whole or refused. Trace messages are not wanted at all.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        onError(cinfo);
}

void noOutput(j_common_ptr) {}

void onProgress(j_common_ptr cinfo)
{
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    jpegState* s = stateOf(cinfo);
    if (d->input_scan_number == s->scansCounted)
        return;
    s->scansCounted = d->input_scan_number;
    s->blocksScanned += static_cast<unsigned long long>(d->MCUs_per_row) * d->MCU_rows_in_scan * d->blocks_in_MCU;
    char text[80];
    if (d->input_scan_number > maxScans)
        std::snprintf(text, sizeof text, "more than %d scans", maxScans);
    else if (s->blocksScanned > maxPasses * s->blocksInPicture)
        std::snprintf(text, sizeof text, "scans that go over the picture more than %d times", maxPasses);
    else
        return;
    fail(s, text);
}

// Files with Adobe's marker hold their inks inverted (255 is no ink), as Adobe's programs write
// them; others as plain amounts of ink.
void inksToRgb(const JSAMPLE* ink, uint8_t* rgb, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, ink += 4, rgb += 3) {
        const unsigned black = inverted ? ink[3] : 255u - ink[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned paper = inverted ? ink[c] : 255u - ink[c];
            rgb[c] = static_cast<uint8_t>((paper * black + 127) / 255);
        }
    }
}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillBuffer(j_decompress_ptr cinfo)
{
    jpegState* s = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
    size_t got = s->in->read(s->buffer, sizeof s->buffer);
    if (got == 0)
        fail(s, s->in->failed() ? "read error" : "the file ends too early");
    s->source.next_input_byte = s->buffer;
    s->source.bytes_in_buffer = got;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr* src = cinfo->src;
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        fillBuffer(cinfo);
    }
    if (count > 0) {
        src->next_input_byte += count;
        src->bytes_in_buffer -= static_cast<size_t>(count);
    }
}

outcome decodeRows(jpegState* s)
{
    if (setjmp(s->jump))
        return outcome::failed;
    jpeg_decompress_struct& cinfo = s->cinfo;
    s->created = true; // the struct is zeroed, so destroying a half-made one is safe
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = otherLibraryMemory;
    s->source.init_source = initSource;
    s->source.fill_input_buffer = fillBuffer;
    s->source.skip_input_data = skipInput;
    s->source.resync_to_restart = jpeg_resync_to_restart;
    s->source.term_source = termSource;
    s->source.bytes_in_buffer = 0;
    s->source.next_input_byte = nullptr;
    cinfo.src = &s->source;
    s->progress.progress_monitor = onProgress;
    cinfo.progress = &s->progress;

    jpeg_read_header(&cinfo, TRUE);
    s->width = cinfo.image_width;
    s->height = cinfo.image_height;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    // libjpeg turns YCCK into CMYK; the inks become RGB here.
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const int bytesPerPixel = grey ? 1 : 3;
    const size_t bytes = pixelBlockSize(static_cast<int>(s->width), static_cast<int>(s->height), bytesPerPixel);
    if (bytes == 0 || bytes > s->in->maxBytes)
        return outcome::tooLarge;
    long coefficients = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& k = cinfo.comp_info[c];
        s->blocksInPicture += static_cast<unsigned long long>(k.width_in_blocks) * k.height_in_blocks;
        const long across = (k.width_in_blocks + k.h_samp_factor - 1) / k.h_samp_factor * k.h_samp_factor;
        const long down = (k.height_in_blocks + k.v_samp_factor - 1) / k.v_samp_factor * k.v_samp_factor;
        coefficients += across * down * static_cast<long>(sizeof(JBLOCK));
    }
    cinfo.mem->max_memory_to_use = coefficients + otherLibraryMemory;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : inks ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != (inks ? 4 : bytesPerPixel) || cinfo.output_width != s->width ||
        cinfo.output_height != s->height)
        fail(s, "unexpected output layout");

    s->image = new (std::nothrow) bitmap(static_cast<int>(s->width), static_cast<int>(s->height), bytesPerPixel);
    if (inks)
        s->inkRow = new (std::nothrow) JSAMPLE[static_cast<size_t>(s->width) * 4];
    if (!s->image || !s->image->pixels || (inks && !s->inkRow))
        return outcome::noMemory;
    // JPEG rows run top down, a bitmap's bottom up.
    const size_t rowBytes = static_cast<size_t>(s->width) * bytesPerPixel;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW out = s->image->pixels.get() + rowBytes * (cinfo.output_height - 1 - cinfo.output_scanline);
        JSAMPROW row = inks ? s->inkRow : out;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (inks)
            inksToRgb(s->inkRow, out, s->width, cinfo.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&cinfo);
    return outcome::read;
}

} // namespace

std::unique_ptr<bitmap> readJpegFrom(imageSource& in, const std::string& name)
{
    const char* file = name.c_str();
    std::unique_ptr<jpegState> s(new (std::nothrow) jpegState());
    if (!s) {
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    }
    s->in = &in;
    s->message[0] = '\0';
    s->cinfo.err = jpeg_std_error(&s->errors);
    s->errors.error_exit = onError;
    s->errors.emit_message = onMessage;
    s->errors.output_message = noOutput;
    outcome result = decodeRows(s.get());
    if (s->created)
        jpeg_destroy_decompress(&s->cinfo);
    std::unique_ptr<bitmap> image(s->image);
    delete[] s->inkRow;

    switch (result) {
    case outcome::failed:
        if (s->precision == 12)
            say("ERROR: JPEG file '%s' has 12-bit samples, which are not supported!\n", file);
        else
            say("ERROR: JPEG file '%s' could not be read (%s)!\n", file, s->message);
        return nullptr;
    case outcome::tooLarge:
        say("ERROR: JPEG file '%s' is too large (%u x %u pixels)!\n", file, s->width, s->height);
        return nullptr;
    case outcome::noMemory:
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    default:
        return image;
    }
}
