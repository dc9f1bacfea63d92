#include "core/image.h"

#include "core/console.h"
#include "core/imagesource.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <sys/stat.h>

namespace {

enum class imageFormat { bmp, png, jpeg };

bool endsWith(const std::string& name, const char* ending)
{
    size_t n = std::strlen(ending);
    if (name.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ending[i])
            return false;
    return true;
}

const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

imageFormat formatOf(const uint8_t* head, size_t n, const std::string& name)
{
    if (n >= 2 && head[0] == 'B' && head[1] == 'M')
        return imageFormat::bmp;
    if (n >= 8 && std::memcmp(head, pngSignature, 8) == 0)
        return imageFormat::png;
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return imageFormat::jpeg;
    if (endsWith(name, ".png"))
        return imageFormat::png;
    if (endsWith(name, ".jpg") || endsWith(name, ".jpeg"))
        return imageFormat::jpeg;
    return imageFormat::bmp;
}

std::unique_ptr<bitmap> readAs(imageFormat format, imageSource& in, const std::string& name)
{
    const uint8_t* head = in.data + in.used;
    size_t n = in.size - in.used;
    switch (format) {
    case imageFormat::png:
        if (n < 8 || std::memcmp(head, pngSignature, 8) != 0) {
            say("ERROR: PNG file '%s' is not a PNG file!\n", name.c_str());
            return nullptr;
        }
        return readPngFrom(in, name);
    case imageFormat::jpeg:
        if (n < 3 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) {
            say("ERROR: JPEG file '%s' is not a JPEG file!\n", name.c_str());
            return nullptr;
        }
        return readJpegFrom(in, name);
    default:
        break;
    }
    // A BMP bitmap is at most some hundred times the file (runs of 255 pixels in 2 bytes), so
    // one over maxBytes is refused once read.
    std::unique_ptr<bitmap> b = readBmpFrom(in, name);
    if (b && b->byteCount() > in.maxBytes) {
        say("ERROR: BMP file '%s' is too large (%d x %d pixels)!\n", name.c_str(), b->width, b->height);
        return nullptr;
    }
    return b;
}

} // namespace

size_t imageSource::read(uint8_t* to, size_t n)
{
    size_t got = std::min(n, size - used);
    std::memcpy(to, data + used, got);
    used += got;
    if (got < n && file)
        got += std::fread(to + got, 1, n - got, file);
    return got;
}

std::unique_ptr<bitmap> readImageFile(const std::string& path, bool onlyBmp, size_t maxBytes)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        say("ERROR: File '%s' could not be opened!\n", path.c_str());
        return nullptr;
    }
    imageSource in;
    in.file = f;
    in.maxBytes = maxBytes;
    struct stat info;
    if (fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode))
        in.fileSize = static_cast<uint64_t>(info.st_size);
    // The first bytes name the format; the reader goes on from them.
    uint8_t head[8];
    in.size = std::fread(head, 1, sizeof head, f);
    in.data = head;
    std::unique_ptr<bitmap> b;
    if (in.failed())
        say("ERROR: File '%s' could not be read!\n", path.c_str());
    else
        b = readAs(onlyBmp ? imageFormat::bmp : formatOf(head, in.size, path), in, path);
    std::fclose(f);
    return b;
}

std::unique_ptr<bitmap> readImage(const std::string& path, size_t maxBytes)
{
    return readImageFile(path, false, maxBytes);
}

std::unique_ptr<bitmap> decodeImage(const uint8_t* data, size_t size, const std::string& name, size_t maxBytes)
{
    imageSource in;
    in.data = data;
    in.size = size;
    in.maxBytes = maxBytes;
    return readAs(formatOf(data, size, name), in, name);
}

std::unique_ptr<bitmap> decodePng(const uint8_t* data, size_t size, const std::string& name)
{
    imageSource in;
    in.data = data;
    in.size = size;
    return readAs(imageFormat::png, in, name);
}

std::unique_ptr<bitmap> decodeJpeg(const uint8_t* data, size_t size, const std::string& name)
{
    imageSource in;
    in.data = data;
    in.size = size;
    return readAs(imageFormat::jpeg, in, name);
}

bool colourTable::grey() const
{
    for (unsigned i = 0; i < size; ++i)
        if (rgb[i][0] != rgb[i][1] || rgb[i][1] != rgb[i][2])
            return false;
    return true;
}

std::unique_ptr<bitmap> applyColourTable(std::unique_ptr<bitmap> indices, const colourTable& table,
                                         const char* kind, const std::string& name)
{
    const size_t n = indices->byteCount();
    uint8_t* index = indices->pixels.get();
    for (size_t i = 0; i < n; ++i)
        if (index[i] >= table.size) {
            say("ERROR: %s file '%s' has a pixel outside its palette of %u colours!\n", kind,
                name.c_str(), table.size);
            return nullptr;
        }
    if (table.grey()) {
        for (size_t i = 0; i < n; ++i)
            index[i] = table.rgb[index[i]][0];
        return indices;
    }
    auto b = std::make_unique<bitmap>(indices->width, indices->height, 3);
    if (!b->pixels) {
        say("ERROR: Could not allocate memory for bitmap!\n");
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i)
        std::memcpy(b->pixels.get() + 3 * i, table.rgb[index[i]], 3);
    return b;
}
