// Round-trips a small bitmap through the library's PNG writer and reader, so that the
// installed headers, the library and its image libraries all take part.

#include "core/bitmap.h"
#include "core/image.h"

#include <cstdio>

int main()
{
    bitmap picture(3, 2, 3);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            picture.setPixel(x, y, colour(static_cast<int16_t>(40 * x), static_cast<int16_t>(100 * y), 7, 255));

    const std::vector<uint8_t> png = encodePng(picture);
    const std::unique_ptr<bitmap> back = decodeImage(png.data(), png.size(), "roundtrip.png");
    if (!back || back->width != 3 || back->height != 2) {
        std::printf("consumer: the PNG did not come back whole\n");
        return 1;
    }
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const colour a = picture.pixelAt(x, y), b = back->pixelAt(x, y);
            if (a.red != b.red || a.green != b.green || a.blue != b.blue) {
                std::printf("consumer: pixel %d, %d changed\n", x, y);
                return 1;
            }
        }
    std::printf("consumer: %zu bytes of PNG read back alike\n", png.size());
    return 0;
}
