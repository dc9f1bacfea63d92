// Start-up and frame times of marlin's three render passes on a scene, in a real window.
//
//   frame_bench [scene folder [scene file]]     (defaults: the bundled scenes, test2.txt)
//
// Needs a display; under none, run it through xvfb-run.

#include "core/console.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : SCENES_DIR;
    const std::string file = argc > 2 ? argv[2] : "test2.txt";
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(720, 576);
    glutCreateWindow(file.c_str());
    if (chdir(folder.c_str()) != 0) {
        say("ERROR: Scene folder '%s' could not be opened!\n", folder.c_str());
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    {
        consoleCapture quiet;
        setUpScene(file, scene, orbitViewAndLight);
    }
    say("scene %s: %d objects, start-up (load and prepare) %.3f s\n", file.c_str(), scene.objectCount,
        secondsSince(start));

    struct pass {
        const char* name;
        void (*draw)(object**, int);
    } passes[] = {{"materials", renderMaterialPass}, {"lightmaps", renderTextureSpacePass},
                  {"outlines", renderOutlinePass}};
    const int frames = 100;
    for (const pass& p : passes) {
        p.draw(scene.objects.data(), scene.objectCount); // warm up
        glFinish();
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            scene.cameraAzimuth += 0.01;
            updateEye(scene);
            p.draw(scene.objects.data(), scene.objectCount);
        }
        glFinish();
        double perFrame = secondsSince(start) / frames;
        say("%-10s %7.2f ms per frame (%5.1f frames/s)\n", p.name, perFrame * 1000, 1 / perFrame);
    }
    scene.diffuseTerm = 1;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        renderTextureSpacePass(scene.objects.data(), scene.objectCount);
    glFinish();
    say("lightmaps with per-frame diffuse relighting: %.2f ms per frame\n", secondsSince(start) / 10 * 1000);
    return 0;
}
