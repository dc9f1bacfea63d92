#pragma once

#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <functional>
#include <vector>

#include <jpeglib.h>

// A JPEG file from libjpeg at the highest quality; setUp may change the settings (scans,
// sampling, quality) after the defaults, and sample(x, y, c) gives the input.
std::vector<uint8_t> encodeJpeg(int width, int height, int components, J_COLOR_SPACE input,
                                const std::function<void(jpeg_compress_struct&)>& setUp,
                                const std::function<uint8_t(int, int, int)>& sample);
