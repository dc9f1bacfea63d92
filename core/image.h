#pragma once

#include "core/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Texture images: BMP, PNG and JPEG files, told apart by their first bytes, or by the name's
// ending (.png, .jpg, .jpeg) when those say nothing; anything else is read as BMP.
//
// Grey images (grey PNG and JPEG files, palettes whose every entry is grey) give bitmaps of 1
// byte a pixel, the grey level, as grey BMP files always have; all others 3 bytes, red, green,
// blue (plain 32-bit BMP pixels excepted, see readBmp); the inks of CMYK and YCCK JPEG files
// become these. Channels of 16 bits are rounded to 8; alpha is dropped. None (after one
// "ERROR: " line naming the file) for anything that cannot be read whole, for 12-bit JPEG
// files, for files that would cost more than their image explains (see pngread.cpp and
// jpegread.cpp), and for images over the 2 GiB of pixelBlockSize, or over maxBytes of bitmap
// where a caller with less memory to spare (a fuzz target) asks for fewer.
std::unique_ptr<bitmap> readImage(const std::string& path, size_t maxBytes = SIZE_MAX);
// The same from the bytes of a file; name is used in messages and for its ending.
std::unique_ptr<bitmap> decodeImage(const uint8_t* data, size_t size, const std::string& name,
                                    size_t maxBytes = SIZE_MAX);

std::unique_ptr<bitmap> decodePng(const uint8_t* data, size_t size, const std::string& name);
std::unique_ptr<bitmap> decodeJpeg(const uint8_t* data, size_t size, const std::string& name);

// A PNG file of the bitmap (grey for 1 byte a pixel, else RGB; plain 32-bit pixels as their
// colours), rows top first as PNG has them. Empty when it cannot be encoded.
std::vector<uint8_t> encodePng(const bitmap& b);
// encodePng and writeWholeFile; false after one "ERROR: " line.
bool writePng(const std::string& path, const bitmap* b);
