#include "pipeline/prepare.h"

#include "mesh/object.h"
#include "texlight/textures.h"

#include <GL/gl.h>

namespace {

// Colour maps from 8- or 32-bit files become 3-byte RGB before they reach OpenGL, which
// would otherwise read three bytes a pixel past the end of a smaller block.
const bitmap* asRgb(const bitmap& image, std::unique_ptr<bitmap>& holder)
{
    if (image.bytesPerPixel == 3)
        return &image;
    holder = std::make_unique<bitmap>(image.width, image.height, 3);
    if (!holder->pixels)
        return nullptr;
    size_t texels = static_cast<size_t>(image.width) * image.height;
    for (size_t i = 0; i < texels; ++i) {
        const uint8_t* from = image.pixels.get() + i * image.bytesPerPixel;
        uint8_t* to = holder->pixels.get() + 3 * i;
        if (image.bytesPerPixel >= 3) { // 32-bit pixels are stored blue, green, red, unused
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        } else {
            to[0] = to[1] = to[2] = from[0];
        }
    }
    return holder.get();
}

} // namespace

void uploadObject(object* obj)
{
    if (!obj->polygons.empty())
        obj->meshList = compileTriangleList(obj->polygons.data(), obj->polygonCount);
    else
        sayObjectError(*obj, "No polygons in object!");
    if (!obj->shadingPolygons.empty())
        obj->shadingList = compileTriangleList(obj->shadingPolygons.data(), obj->polygonCount);
    else
        sayObjectError(*obj, "No shading polygons in object!");
    if (obj->finalBitmap && obj->finalBitmap->pixels)
        obj->lightmapTextureId = createTexture(*obj->finalBitmap, GL_CLAMP);
    if (obj->colourMap) {
        std::unique_ptr<bitmap> converted;
        if (const bitmap* rgb = asRgb(*obj->colourMap, converted))
            obj->colourTextureId = createTexture(*rgb, GL_REPEAT);
    }
}

void prepareObject(object* obj, colour ambient, colour diffuse, colour specular,
                   const preparationSettings& settings)
{
    prepareObjectData(obj, ambient, diffuse, specular, settings);
    uploadObject(obj);
}
