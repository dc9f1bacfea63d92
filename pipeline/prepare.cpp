#include "pipeline/prepare.h"

#include "core/console.h"
#include "mesh/edgelist.h"
#include "mesh/object.h"
#include "mesh/uvlayout.h"
#include "mesh/uvrepair.h"
#include "texlight/lighting.h"

void prepareObjectData(object* obj, colour ambient, colour diffuse, colour specular,
                       const preparationSettings& settings)
{
    // Map sizes of 0 or below leave nothing to rasterise, light or upload.
    const bool hasMaps = obj->finalBitmap && obj->finalBitmap->pixels;
    if (hasMaps && needsUvLayout(*obj)) {
        int charts = generateUvLayout(*obj, obj->finalBitmap->width, obj->finalBitmap->height);
        say("\nNO UVS IN THE FILE: LAID OUT %d CHART%s FOR THE LIGHTMAP\n", charts, charts == 1 ? "" : "S");
    }
    checkUvWinding(obj);
    normaliseUvs(obj);
    buildEdgeList(obj);
    if (hasMaps) {
        generateAlphaMap(obj, settings.alphaPoints);
        generatePositionsMap(obj);
        generateNormalsMap(obj);
        for (int kind : {diffuseKind, ambientKind, specularKind, finalKind})
            initialiseBitmap(obj, kind);
    } else {
        sayObjectError(*obj, "Object has no texture-space maps to prepare!");
    }
    setMaterialColour(obj, 2, specular);
    setMaterialColour(obj, 1, ambient);
    setMaterialColour(obj, 0, diffuse);
    if (hasMaps && !settings.deferLighting)
        relight(obj, settings.terms, settings.lights, settings.eye, settings.ambientColour, true);
}

traceReport lightTracedObjects(object* const* objects, int count, const preparationSettings& settings,
                               const traceSettings& trace)
{
    traceReport report = traceScene(objects, count, settings.lights, trace);
    for (int i = 0; i < count; ++i)
        if (trace.wanted(i) && objects[i]->finalBitmap && objects[i]->finalBitmap->pixels)
            relight(objects[i], settings.terms, settings.lights, settings.eye, settings.ambientColour, true);
    return report;
}
