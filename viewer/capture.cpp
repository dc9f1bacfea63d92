#include "viewer/capture.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "texlight/lighting.h"
#include "texlight/mapexport.h"
#include "viewer/scene.h"

#include <GL/gl.h>

#include <cstdio>

std::string frameName(int number)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame%04d.bmp", number);
    return name;
}

void countCapture(Scene& s, bool switchModes)
{
    say("Outputing frame: %d\n", s.frameNumber);
    ++s.frameNumber;
    if (switchModes && s.frameNumber % 360 == 0)
        s.renderMode = (s.renderMode == 1) ? 3 : 1;
}

void captureFrame(Scene& s, bool switchModes)
{
    const int w = static_cast<int>(s.windowWidth);
    const int h = static_cast<int>(s.windowHeight);
    bitmap frame(w, h, 3);
    if (frame.pixels) {
        // The frame just drawn, before it is swapped to the screen.
        glReadBuffer(GL_BACK);
        // Tightly packed rows: exactly w x h x 3 bytes, whatever the width.
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, frame.pixels.get());
    }
    s.frameFileName = frameName(s.frameNumber);
    // A frame that was not written is not counted: the next capture reuses its number.
    if (writeBmp(s.frameFileName, &frame))
        countCapture(s, switchModes);
}

int exportMaps(const Scene& s, const std::string& folder)
{
    struct file {
        const char* pattern;
        unsigned kind;
    } files[] = {{"diffuse%02d.bmp", diffuseKind}, {"ambient%02d.bmp", ambientKind},
                 {"specular%02d.bmp", specularKind}, {"alpha%02d.bmp", alphaKind},
                 {"normals%02d.bmp", normalsKind}, {"positions%02d.bmp", positionsKind}};
    int failed = 0;
    for (int i = 0; i < s.objectCount; ++i) {
        if (!s.tracing.wanted(i))
            continue;
        for (const file& f : files) {
            char name[64];
            std::snprintf(name, sizeof name, f.pattern, i);
            failed += !writeMap(s.objects[i], f.kind, folder.empty() ? name : folder + "/" + name);
        }
    }
    return failed;
}
