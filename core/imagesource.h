#pragma once

// The image readers' shared parts; not for use outside them.

#include "core/bitmap.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// The bytes of an image: a block in memory, then, when reading a file, the rest of the file.
// Plain data, so that the readers' setjmp frames may hold one.
struct imageSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t used = 0;
    std::FILE* file = nullptr;
    uint64_t fileSize = UINT64_MAX; // of the whole file; UINT64_MAX when not known (a device)
    size_t maxBytes = SIZE_MAX;     // of the bitmap made, below pixelBlockSize's bound

    // Up to n bytes; fewer only at the end of the input or on a read error.
    size_t read(uint8_t* to, size_t n);
    bool failed() const { return file && std::ferror(file) != 0; }
};

std::unique_ptr<bitmap> readBmpFrom(imageSource& in, const std::string& name);
std::unique_ptr<bitmap> readPngFrom(imageSource& in, const std::string& name);
std::unique_ptr<bitmap> readJpegFrom(imageSource& in, const std::string& name);

// Opens path and reads it as a BMP file, or as whatever image its first bytes (or else its
// name) say it is.
std::unique_ptr<bitmap> readImageFile(const std::string& path, bool onlyBmp, size_t maxBytes = SIZE_MAX);

// The colours of a palette image, red, green, blue.
struct colourTable {
    unsigned size = 0;
    uint8_t rgb[256][3] = {};

    bool grey() const; // every entry
};

// Replaces each index by its colour: a grey level (1 byte a pixel, in place) when every entry of
// the table is grey, else red, green and blue. None (after one "ERROR: " line naming the file)
// when an index lies past the table or the colour block cannot be allocated.
std::unique_ptr<bitmap> applyColourTable(std::unique_ptr<bitmap> indices, const colourTable& table,
                                         const char* kind, const std::string& name);
