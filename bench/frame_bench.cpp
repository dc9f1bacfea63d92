// Start-up and frame times of each viewer's drawing on the bundled scenes, in a real window.
//
//   frame_bench [marlin|tern|heron|tern_depth]     (default: marlin)
//
// marlin is measured in its three render modes on test2.txt; the fixed-camera viewers on
// sphere_room.txt with their own lights (heron relights all three terms every frame).
// Needs a display; under none, run it through xvfb-run.

#include "core/console.h"
#include "lights/spotlight.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <GL/glut.h>

#include <chrono>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

pointlight lamps[3];
spotlight spot;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void timeFrames(const char* name, int frames, const std::function<void()>& frame)
{
    frame(); // warm up
    glFinish();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i)
        frame();
    glFinish();
    double perFrame = secondsSince(start) / frames;
    say("%-28s %8.2f ms per frame (%6.1f frames/s)\n", name, perFrame * 1000, 1 / perFrame);
}

void placeCirclingLamps()
{
    vector at[3];
    circlingLightPositions(scene.lightAngle, at);
    for (int i = 0; i < 3; ++i)
        lamps[i].setPosition(at[i]);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string program = argc > 1 ? argv[1] : "marlin";
    const bool orbiting = program == "marlin";
    const std::string file = orbiting ? "test2.txt" : "sphere_room.txt";
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(720, 576);
    glutCreateWindow(file.c_str());
    if (chdir(SCENES_DIR) != 0) {
        say("ERROR: Scene folder '%s' could not be opened!\n", SCENES_DIR);
        return 1;
    }

    sceneChoices choices = orbitViewAndLight;
    if (program == "tern") {
        scene.alphaPoints = alphaTestPoints::cornerThenBack;
        choices = [](Scene& s) { fixedViewAndLight(s, lamps[0]); };
    } else if (program == "tern_depth") {
        choices = [](Scene& s) {
            fixedViewAndLight(s, spot);
            spot.setDirection(negated(spot.position));
        };
    } else if (program == "heron") {
        choices = [](Scene& s) {
            s.eye.set(0, 0, -10);
            s.ambientTerm = s.diffuseTerm = s.specularTerm = 1;
            placeCirclingLamps();
            const colour colours[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
            for (int i = 0; i < 3; ++i) {
                lamps[i].setColour(colours[i]);
                lamps[i].next = i < 2 ? &lamps[i + 1] : nullptr;
            }
            s.lights = &lamps[0];
        };
    } else if (!orbiting) {
        say("ERROR: Unknown viewer '%s'!\n", program.c_str());
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    {
        consoleCapture quiet;
        setUpScene(file, scene, choices);
    }
    say("%s on %s: %d objects, start-up (load and prepare) %.3f s\n", program.c_str(), file.c_str(),
        scene.objectCount, secondsSince(start));

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
            placeCirclingLamps();
            renderFixedViewPass(objects, count, 0.333f);
        });
        scene.shadowsOn = 1;
        timeFrames("all terms relit, shadows", 20, [&] {
            scene.lightAngle += 0.1;
            placeCirclingLamps();
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
