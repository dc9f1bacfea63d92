#include "tests/jpegmaker.h"

#include <cstdlib>

std::vector<uint8_t> encodeJpeg(int width, int height, int components, J_COLOR_SPACE input,
                                const std::function<void(jpeg_compress_struct&)>& setUp,
                                const std::function<uint8_t(int, int, int)>& sample)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = input;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    setUp(c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width * components));
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < components; ++k)
                row[static_cast<size_t>(x * components + k)] = sample(x, static_cast<int>(c.next_scanline), k);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}
