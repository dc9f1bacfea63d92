#include "fuzz/targets.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "core/image.h"

#include <cstring>
#include <memory>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// Bitmaps of a few million pixels at most, read three times over with libjpeg's coefficients
// beside them, stay well inside the fuzzer's memory limit (-rss_limit_mb=512) and time limit.
const size_t maxBitmapBytes = size_t(16) << 20;

bool oneErrorLine(const std::string& text)
{
    return text.rfind("ERROR: ", 0) == 0 && text.find('\n') == text.size() - 1;
}

// Files are read only as far as the image reaches (the BMP reader judges that from its headers,
// the PNG and JPEG readers take bytes as the decoder asks); from a file the result must come to
// exactly what decoding all the bytes in memory makes of them.
std::string compareWithFileReading(const uint8_t* data, size_t size)
{
#if defined(__linux__)
    int fd = memfd_create("fuzz", 0);
    if (fd < 0)
        return "";
    size_t written = 0;
    while (written < size) {
        ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) {
            close(fd);
            return "";
        }
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::unique_ptr<bitmap> fromFile, fromMemory;
    std::string fileText, memoryText;
    {
        consoleCapture capture;
        fromFile = readImage(path, maxBitmapBytes);
        fileText = capture.text();
        capture.clear();
        fromMemory = decodeImage(data, size, path, maxBitmapBytes);
        memoryText = capture.text();
    }
    close(fd);
    if (fileText != memoryText)
        return "from a file: " + fileText + "from memory: " + memoryText;
    if (!fromFile != !fromMemory)
        return "from a file and from memory, one reads and one does not";
    if (fromFile && (fromFile->byteCount() != fromMemory->byteCount() ||
                     std::memcmp(fromFile->pixels.get(), fromMemory->pixels.get(),
                                 fromFile->byteCount()) != 0))
        return "from a file and from memory, the pixels differ";
#else
    (void)data;
    (void)size;
#endif
    return "";
}

} // namespace

std::string imageInput(const uint8_t* data, size_t size)
{
    // A block of exactly the input's size, so that any read past its end is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(bytes.get(), data, size);

    std::unique_ptr<bitmap> b;
    std::string text;
    {
        consoleCapture capture;
        b = decodeImage(bytes.get(), size, "fuzz", maxBitmapBytes);
        text = capture.text();
    }
    std::string problem = compareWithFileReading(bytes.get(), size);
    if (!problem.empty())
        return problem;
    if (!b)
        return oneErrorLine(text) ? "" : "rejected without exactly one error line: " + text;
    if (!text.empty())
        return "read, yet printed: " + text;
    if (b->width <= 0 || b->height <= 0 || !b->pixels)
        return "read an empty image";
    const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
    if (b->bytesPerPixel != 1 && b->bytesPerPixel != 3 && !(bmp && b->bytesPerPixel == 4))
        return "read " + std::to_string(b->bytesPerPixel) + " bytes per pixel";
    size_t n = b->byteCount();
    if (n != static_cast<size_t>(b->width) * b->height * b->bytesPerPixel)
        return "block size disagrees with the dimensions";
    // A BMP file holds at least a bit a pixel, or a 2-byte run of 255 pixels, or refuses.
    size_t texels = static_cast<size_t>(b->width) * b->height;
    if (bmp && texels > 256 * size)
        return std::to_string(texels) + " pixels from a BMP file of " + std::to_string(size) + " bytes";

    // Touches the whole block, so that the sanitizers see it is as large as it claims.
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += b->pixels[i];
    volatile unsigned sink = sum;
    (void)sink;
    colour last = b->pixelAt(b->width - 1, b->height - 1);
    if (b->bytesPerPixel == 1 && last.red != b->pixels[n - 1])
        return "pixelAt disagrees with the block";

    // Written and read again, the image is the same.
    std::vector<uint8_t> again = encodeBmp(*b);
    std::unique_ptr<bitmap> back;
    {
        consoleCapture capture;
        back = decodeBmp(again.data(), again.size(), "again.bmp");
        text = capture.text();
    }
    if (!back)
        return "its own encoding was rejected: " + text;
    if (back->width != b->width || back->height != b->height ||
        back->bytesPerPixel != b->bytesPerPixel ||
        std::memcmp(back->pixels.get(), b->pixels.get(), n) != 0)
        return "its own encoding reads back differently";
    return "";
}

RENDER_FUZZ_TARGET(imageInput)
