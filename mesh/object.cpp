#include "mesh/object.h"

#include "core/console.h"

object::object(int mapWidth, int mapHeight)
{
    // Negative sizes must never reach the grids: they would turn into enormous unsigned counts.
    bool sized = mapWidth > 0 && mapHeight > 0;
    if (sized)
        alphaMap = grid<polygon*>(mapWidth, mapHeight, nullptr);

    diffuseBitmap = std::make_unique<bitmap>(mapWidth, mapHeight, 3);
    ambientBitmap = std::make_unique<bitmap>(mapWidth, mapHeight, 3);
    specularBitmap = std::make_unique<bitmap>(mapWidth, mapHeight, 3);
    finalBitmap = std::make_unique<bitmap>(mapWidth, mapHeight, 3);

    if (sized) {
        normalsMap = grid<vector>(mapHeight, mapWidth, vector());
        positionsMap = grid<vector>(mapHeight, mapWidth, vector());
    }
}

void sayObjectError(const object& obj, const std::string& message)
{
    // Appended rather than woven in, so the message itself reads as it always has.
    sayText("ERROR: " + message + (obj.sourcePath.empty() ? "" : " (" + obj.sourcePath + ")") + "\n");
}

colour object::colourAt(const texture& t, int x, int y) const
{
    if (t.uniform)
        return *t.uniform;
    if (t.image)
        return t.image->pixelAt(x, y);
    sayObjectError(*this, "No type assigned to texture!");
    return colour(0, 0, 0, 255);
}

void object::markFacing(vector p)
{
    for (polygon& poly : polygons) {
        vector toPoint = p - poly.position[0];
        // A point on the plane sees only the edge of the face, so it counts as behind it.
        poly.facing = dot(poly.faceNormal, toPoint) > 0 ? 1 : 0;
    }
}
