// Start-up and frame times of each viewer's drawing, in a real window.
//
//   frame_bench [marlin|tern|heron|tern_depth [SCENE_FILE]]     (default: marlin)
//
// marlin is measured in its three render modes on test2.txt; the fixed-camera viewers on
// sphere_room.txt with their own lights (heron relights all three terms every frame). A
// SCENE_FILE of your own is read from its folder (the files it names are relative to it), and
// marlin frames it first as its V key does. Each measure runs up to its number of frames or
// about ten seconds, whichever comes first. Needs a display; under none, run it through
// xvfb-run.

#include "core/console.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/programs.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

viewerLights lights;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void timeFrames(const char* name, int frames, const std::function<void()>& frame)
{
    frame(); // warm up
    glFinish();
    auto start = std::chrono::steady_clock::now();
    int drawn = 0;
    while (drawn < frames && (drawn < 3 || secondsSince(start) < 10)) {
        frame();
        glFinish();
        ++drawn;
    }
    double perFrame = secondsSince(start) / drawn;
    say("%-28s %8.2f ms per frame (%6.1f frames/s, %d frames)\n", name, perFrame * 1000, 1 / perFrame, drawn);
}

} // namespace

int main(int argc, char** argv)
{
    glutInit(&argc, argv);
    const std::string program = argc > 1 ? argv[1] : "marlin";
    const bool orbiting = program == "marlin";
    const bool ownScene = argc > 2;
    const std::filesystem::path given = ownScene ? std::filesystem::absolute(argv[2]) : std::filesystem::path();
    const std::string folder = ownScene ? given.parent_path().string() : SCENES_DIR;
    const std::string file = ownScene ? given.filename().string() : orbiting ? "test2.txt" : "sphere_room.txt";
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(720, 576);
    glutCreateWindow(file.c_str());
    if (chdir(folder.c_str()) != 0) {
        say("ERROR: Scene folder '%s' could not be opened!\n", folder.c_str());
        return 1;
    }

    if (!chooseProgram(program, scene, lights)) {
        say("ERROR: Unknown viewer '%s'!\n", program.c_str());
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    {
        consoleCapture quiet;
        setUpScene(file, scene, nullptr);
    }
    long long triangles = 0;
    for (const object* obj : scene.objects)
        triangles += obj->polygonCount;
    say("%s on %s: %d objects, %lld triangles, start-up (load and prepare) %.3f s\n", program.c_str(),
        file.c_str(), scene.objectCount, triangles, secondsSince(start));
    if (ownScene && orbiting)
        frameScene(scene);

    object** objects = scene.objects.data();
    const int count = scene.objectCount;
    if (orbiting) {
        auto orbit = [](void (*pass)(object**, int)) {
            return [pass] {
                scene.cameraAzimuth += 0.01;
                updateEye(scene);
                pass(scene.objects.data(), scene.objectCount);
            };
        };
        timeFrames("materials", 100, orbit(renderMaterialPass));
        timeFrames("lightmaps", 100, orbit(renderTextureSpacePass));
        timeFrames("outlines", 100, orbit(renderOutlinePass));
        scene.diffuseTerm = 1;
        timeFrames("lightmaps, diffuse relit", 20, orbit(renderTextureSpacePass));
    } else if (program == "heron") {
        scene.shadowsOn = 0;
        timeFrames("all terms relit", 20, [&] {
            scene.lightAngle += 0.1;
            placeCirclingLamps(scene, lights);
            renderFixedViewPass(objects, count, 0.333f);
        });
        scene.shadowsOn = 1;
        timeFrames("all terms relit, shadows", 20, [&] {
            scene.lightAngle += 0.1;
            placeCirclingLamps(scene, lights);
            renderFixedViewPass(objects, count, 0.333f);
        });
    } else {
        timeFrames("lightmaps, shadows", 100, [&] { renderFixedViewPass(objects, count, 1.0f); });
        scene.diffuseTerm = 1;
        light* l = scene.lights;
        int step = 0;
        timeFrames("dragged light, diffuse relit", 20, [&] {
            l->setPosition(vector(2 - (step++ % 40) * 0.1, 0, -5));
            renderFixedViewPass(objects, count, 1.0f);
        });
    }
    return 0;
}
