#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// A floor at y = -2 and a small square occluder at y = 0 under marlin's light at
// (0, 5.721, 0). From the start camera at (-10, 0, 0) the occluder is seen edge-on, and its
// shadow falls on the middle of the floor.
void writeScene(const std::string& folder)
{
    std::ofstream floor(folder + "/floor.obj");
    floor << "v -4 -2 -4\nv 4 -2 -4\nv 4 -2 4\nv -4 -2 4\n"
             "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 1 0\n"
             "f 1/1/1 4/4/1 3/3/1\nf 1/1/1 3/3/1 2/2/1\n";
    std::ofstream occluder(folder + "/occluder.obj");
    occluder << "v -0.5 0 -0.5\nv 0.5 0 -0.5\nv 0.5 0 0.5\nv -0.5 0 0.5\n"
                "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 1 0\n"
                "f 1/1/1 4/4/1 3/3/1\nf 1/1/1 3/3/1 2/2/1\n";
    std::ofstream scene(folder + "/scene.txt");
    scene << "floor.obj 50 50 50 200 200 200 255 255 255 20.0 NULL 1.0 64 64 NULL\n"
             "occluder.obj 50 50 50 200 100 100 255 255 255 20.0 NULL 1.0 32 32 NULL\n";
}

int brightness(const bitmap& b, int x, int y)
{
    colour c = b.pixelAt(x, y);
    return c.red + c.green + c.blue;
}

bool grey(const bitmap& b, int x, int y)
{
    colour c = b.pixelAt(x, y);
    return c.red == c.green && c.green == c.blue;
}

// True when a pixel of exactly this colour lies within a few pixels of (x, y).
bool colourNear(const bitmap& b, int x, int y, colour wanted, int reach = 3)
{
    for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx) {
            int px = x + dx, py = y + dy;
            if (px >= 0 && py >= 0 && px < b.width && py < b.height && b.pixelAt(px, py) == wanted)
                return true;
        }
    return false;
}

struct marlinRun : programRun {
    explicit marlinRun(const std::string& name, std::vector<std::string> args = {"scene.txt"})
        : programRun(MARLIN_PATH, args, name, writeScene) {}

    bool started() { return programRun::started("scene.txt"); }
};

// Screen positions in a 720 x 576 frame of the start camera (75 degree view, distance 10).
const int centreX = 360, centreY = 288;
const double pixelsPerUnit = 288 / (10 * 0.76732698797896); // tan(37.5 degrees)

int screenY(double worldY) { return centreY + static_cast<int>(worldY * pixelsPerUnit); }
int screenX(double worldZ) { return centreX + static_cast<int>(worldZ * pixelsPerUnit); }

} // namespace

TEST(marlin, loadsTheSceneAndCapturesFrames)
{
    marlinRun run("loads");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    std::string console = run.viewer->output();
    EXPECT_NE(console.find("Object 'floor.obj' loaded successfully"), std::string::npos);
    EXPECT_NE(console.find("MATERIAL PROPERTIES:\n"), std::string::npos);
    EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;

    auto frame = run.capture();
    ASSERT_NE(frame, nullptr) << run.viewer->output();
    EXPECT_EQ(frame->width, 720);
    EXPECT_EQ(frame->height, 576);
    // The y axis rises green from the centre, the z axis runs blue to the right.
    EXPECT_TRUE(colourNear(*frame, centreX, centreY + 20, colour(0, 255, 0, 255)));
    EXPECT_TRUE(colourNear(*frame, centreX + 20, centreY, colour(0, 0, 255, 255)));
    // The occluder's shadow on the floor is darker than the lit floor beside it.
    int shadowed = brightness(*frame, centreX, screenY(-2));
    int lit = brightness(*frame, screenX(2.5), screenY(-2));
    EXPECT_LT(shadowed * 10, lit * 7) << shadowed << " vs " << lit;
}

TEST(marlin, keysSwitchShadowsMarkersAndModes)
{
    marlinRun run("keys");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    auto first = run.capture();
    ASSERT_NE(first, nullptr);

    // H: the shadowed floor becomes as light as its surroundings.
    run.viewer->key("h");
    auto noShadows = run.capture();
    ASSERT_NE(noShadows, nullptr);
    EXPECT_GT(brightness(*noShadows, centreX, screenY(-2)), brightness(*first, centreX, screenY(-2)) + 60);
    run.viewer->key("h");

    // L: the light's marker appears above the scene in the light's colour.
    int markerY = screenY(5.721);
    EXPECT_FALSE(colourNear(*first, centreX, markerY, colour(200, 200, 200, 255)));
    run.viewer->key("l");
    auto marker = run.capture();
    ASSERT_NE(marker, nullptr);
    EXPECT_TRUE(colourNear(*marker, centreX, markerY, colour(200, 200, 200, 255)));
    run.viewer->key("l");

    // T: texture-space mode draws black shadows, the outline mode half-dark ones again.
    run.viewer->key("t");
    auto textured = run.capture();
    run.viewer->key("t");
    auto outlined = run.capture();
    run.viewer->key("t");
    auto back = run.capture();
    ASSERT_TRUE(textured && outlined && back);
    colour shadow = textured->pixelAt(centreX, screenY(-2));
    EXPECT_EQ(shadow, colour(0, 0, 0, 255));
    EXPECT_GT(brightness(*outlined, centreX, screenY(-2)), 0);
    EXPECT_NE(brightness(*textured, screenX(2.5), screenY(-2)), brightness(*outlined, screenX(2.5), screenY(-2)));
    // Back in the material mode, the shadow is half-dark again.
    EXPECT_NEAR(brightness(*back, centreX, screenY(-2)), brightness(*first, centreX, screenY(-2)), 6);
}

TEST(marlin, exportsSixMapsPerObject)
{
    marlinRun run("maps");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    run.viewer->key("f");
    for (const char* kind : {"diffuse", "ambient", "specular", "alpha", "normals", "positions"})
        for (const char* index : {"00", "01"}) {
            std::string path = run.folder + "/" + kind + index + ".bmp";
            ASSERT_TRUE(waitForFile(path)) << path;
            auto map = readBmpQuietly(path);
            ASSERT_NE(map, nullptr) << path;
            EXPECT_EQ(map->width, index[1] == '0' ? 64 : 32) << path;
        }
    struct stat st;
    EXPECT_NE(stat((run.folder + "/final00.bmp").c_str(), &st), 0);
    EXPECT_NE(stat((run.folder + "/diffuse02.bmp").c_str(), &st), 0);
}

TEST(marlin, oddWindowWidthsAreCapturedWithoutSkew)
{
    marlinRun run("odd");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    run.viewer->resize(721, 577);
    auto frame = run.capture();
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width, 721);
    ASSERT_EQ(frame->height, 577);
    // The green axis is one straight vertical line: every row of it in the same column.
    int column = -1;
    for (int y = 290; y < 300; ++y) {
        int found = -1;
        for (int x = 340; x < 380; ++x)
            if (frame->pixelAt(x, y) == colour(0, 255, 0, 255))
                found = x;
        ASSERT_NE(found, -1) << "row " << y;
        if (column == -1)
            column = found;
        EXPECT_EQ(found, column) << "row " << y;
    }
}

TEST(marlin, mouseOrbitsTheCamera)
{
    marlinRun run("orbit");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    auto before = run.capture();
    run.viewer->drag(1, 300, 300, 420, 300);
    auto after = run.capture();
    ASSERT_TRUE(before && after);
    // Seen from the start the red x axis points straight away from the camera; after the
    // orbit it shows as a short line beside the centre.
    const colour red(255, 0, 0, 255);
    auto redBeside = [&](const bitmap& b) {
        return colourNear(b, centreX - 9, centreY, red, 5) || colourNear(b, centreX + 9, centreY, red, 5);
    };
    EXPECT_FALSE(redBeside(*before));
    EXPECT_TRUE(redBeside(*after));
}

TEST(marlin, turntableModePrintsItsBannerAndTurns)
{
    marlinRun run("turn", {"scene.txt", "-turn"});
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    EXPECT_TRUE(run.viewer->waitForOutput("\nEntering Turntable Mode\n*************************************\n\n"));
    auto first = run.capture();
    auto second = run.capture();
    ASSERT_TRUE(first && second);
    EXPECT_NE(0, std::memcmp(first->pixels.get(), second->pixels.get(), first->byteCount()));
}

TEST(marlin, closingTheWindowEndsTheProgramWithStatusZero)
{
    for (bool destroyed : {false, true}) {
        SCOPED_TRACE(destroyed ? "destroyed from outside" : "close button");
        marlinRun run(destroyed ? "destroyed" : "closed");
        ASSERT_TRUE(run.x.ok()) << "no Xvfb";
        ASSERT_TRUE(run.started()) << run.viewer->output();
        ASSERT_NE(run.capture(), nullptr); // drawing frame after frame
        if (destroyed)
            run.viewer->destroyWindow();
        else
            run.viewer->closeWindow();
        EXPECT_EQ(run.viewer->waitForExit(30), 0);
        EXPECT_EQ(run.viewer->output().find("X Error"), std::string::npos) << run.viewer->output();
    }
}

namespace {

// A floor of 6 x 6 quads, 2 wide at y = -2, and a box of quads floating above it beside the
// middle, under marlin's light: no normals and no texture coordinates in either file. At
// distance 10 from the start camera it is a small thing in the middle of the window.
void writeQuadScene(const std::string& folder)
{
    std::ofstream floor(folder + "/floor.obj");
    for (int i = 0; i <= 6; ++i)
        for (int j = 0; j <= 6; ++j)
            floor << "v " << -1 + i / 3.0 << " -2 " << -1 + j / 3.0 << "\n";
    auto at = [](int i, int j) { return i * 7 + j + 1; };
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            floor << "f " << at(i, j) << " " << at(i, j + 1) << " " << at(i + 1, j + 1) << " " << at(i + 1, j) << "\n";
    std::ofstream box(folder + "/box.obj");
    const double lo[3] = {0.1, -1.2, -0.3}, hi[3] = {0.6, -1.0, 0.3};
    for (int c = 0; c < 8; ++c)
        box << "v " << (c & 1 ? hi[0] : lo[0]) << " " << (c & 2 ? hi[1] : lo[1]) << " " << (c & 4 ? hi[2] : lo[2]) << "\n";
    for (const char* side : {"1 3 4 2", "5 6 8 7", "1 2 6 5", "3 7 8 4", "1 5 7 3", "2 4 8 6"})
        box << "f " << side << "\n";
    std::ofstream scene(folder + "/quads.txt");
    scene << "floor.obj 50 50 50 200 200 200 255 255 255 20.0 NULL 1.0 64 64 NULL\n"
             "box.obj 50 50 50 200 100 100 255 255 255 20.0 NULL 1.0 32 32 NULL\n";
}

// Pixels unlike the background (the top left corner, where nothing is drawn).
int drawnPixels(const bitmap& b)
{
    const colour background = b.pixelAt(0, b.height - 1);
    int drawn = 0;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            drawn += !(b.pixelAt(x, y) == background);
    return drawn;
}

} // namespace

// Quads, computed normals and a generated layout, framed by V: a lit floor with the box's
// shadow on it, and in the lightmap mode not one dark texel where the floor is.
TEST(marlin, framingKeyShowsAMeshWithoutNormalsOrTextureCoordinates)
{
    programRun run(MARLIN_PATH, {"quads.txt"}, "framing", writeQuadScene);
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started("quads.txt")) << run.viewer->output();
    const std::string console = run.viewer->output();
    EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;
    EXPECT_NE(console.find("NO UVS IN THE FILE: LAID OUT 1 CHART FOR THE LIGHTMAP\n"), std::string::npos) << console;

    run.viewer->drag(1, 360, 100, 360, 500); // look down onto the floor
    auto small = run.capture();
    run.viewer->key("v");
    auto framed = run.capture();
    run.viewer->key("h");
    auto unshadowed = run.capture();
    run.viewer->key("t");
    auto lightmap = run.capture();
    ASSERT_TRUE(small && framed && unshadowed && lightmap) << run.viewer->output();
    const int frame = framed->width * framed->height;
    EXPECT_LT(drawnPixels(*small), frame / 50);
    EXPECT_GT(drawnPixels(*framed), 8 * drawnPixels(*small));

    // The shadow: a patch of the floor that H lightens.
    int shadowed = 0;
    for (int y = 0; y < framed->height; ++y)
        for (int x = 0; x < framed->width; ++x)
            shadowed += brightness(*unshadowed, x, y) > brightness(*framed, x, y) + 60;
    EXPECT_GT(shadowed, frame / 200);
    EXPECT_LT(shadowed, frame / 10);

    // Unbroken and lit in the lightmap: each row of the floor's near part (below the box)
    // runs from its left edge to its right without a dark pixel.
    const colour background = lightmap->pixelAt(0, lightmap->height - 1);
    int rows = 0;
    for (int y = 0; y < lightmap->height * 2 / 5; ++y) {
        int left = -1, right = -1;
        for (int x = 0; x < lightmap->width; ++x)
            if (!(lightmap->pixelAt(x, y) == background)) {
                left = left < 0 ? x : left;
                right = x;
            }
        if (right - left < 100)
            continue;
        ++rows;
        for (int x = left + 1; x < right; ++x)
            ASSERT_GT(brightness(*lightmap, x, y), 150) << "dark at " << x << ", " << y;
    }
    EXPECT_GT(rows, 40);
}

namespace {

// A sphere of radius 2 at the origin, written as quads (triangles at the poles) with
// positions only.
void writeSphereScene(const std::string& folder)
{
    const int segments = 48, stacks = 24;
    std::ofstream sphere(folder + "/sphere.obj");
    sphere << "v 0 2 0\n";
    for (int i = 1; i < stacks; ++i)
        for (int j = 0; j < segments; ++j) {
            double t = M_PI * i / stacks, f = 2 * M_PI * j / segments;
            sphere << "v " << 2 * std::sin(t) * std::cos(f) << " " << 2 * std::cos(t) << " " << 2 * std::sin(t) * std::sin(f) << "\n";
        }
    sphere << "v 0 -2 0\n";
    auto at = [&](int i, int j) { return 2 + (i - 1) * segments + (j % segments); };
    const int south = 2 + (stacks - 1) * segments;
    for (int j = 0; j < segments; ++j) {
        sphere << "f 1 " << at(1, j + 1) << " " << at(1, j) << "\n";
        for (int i = 1; i + 1 < stacks; ++i)
            sphere << "f " << at(i, j) << " " << at(i, j + 1) << " " << at(i + 1, j + 1) << " " << at(i + 1, j) << "\n";
        sphere << "f " << south << " " << at(stacks - 1, j) << " " << at(stacks - 1, j + 1) << "\n";
    }
    std::ofstream scene(folder + "/sphere.txt");
    // A strong ambient colour lights the underside too, so seams show everywhere.
    scene << "sphere.obj 150 150 150 200 200 200 255 255 255 20.0 NULL 1.0 256 256 NULL\n";
}

} // namespace

// The lightmap of a generated layout, drawn on the sphere: its charts meet without a seam
// darker than both sides of it.
TEST(marlin, generatedLayoutShowsNoDarkSeams)
{
    programRun run(MARLIN_PATH, {"sphere.txt"}, "seams", writeSphereScene);
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started("sphere.txt")) << run.viewer->output();
    EXPECT_EQ(run.viewer->output().find("ERROR"), std::string::npos) << run.viewer->output();
    run.viewer->key("v");
    run.viewer->key("t");
    run.viewer->key("h");
    auto frame = run.capture();
    ASSERT_NE(frame, nullptr) << run.viewer->output();
    // A seam is a pixel clearly darker than the pixels three away on both sides, across it in
    // any direction; smooth diffuse light has no such valleys.
    const int reach = 3, directions[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
    int lit = 0, seams = 0;
    for (int y = reach; y < frame->height - reach; ++y)
        for (int x = reach; x < frame->width - reach; ++x) {
            const int here = brightness(*frame, x, y);
            if (here < 90) // the unlit underside and the background
                continue;
            ++lit;
            for (const auto& d : directions) {
                const int ax = x - reach * d[0], ay = y - reach * d[1], bx = x + reach * d[0], by = y + reach * d[1];
                if (!grey(*frame, x, y) || !grey(*frame, ax, ay) || !grey(*frame, bx, by))
                    continue; // the coloured axes cross the sphere
                int a = brightness(*frame, ax, ay);
                int b = brightness(*frame, bx, by);
                if (here + 24 < std::min(a, b)) {
                    ++seams;
                    ADD_FAILURE() << "dark seam at " << x << ", " << y << ": " << here << " between " << a << " and " << b;
                    break;
                }
            }
            if (seams > 5)
                return;
        }
    EXPECT_GT(lit, 720 * 576 / 40) << "too little of the sphere is lit to look for seams";
}

namespace {

// Without a display, so that only a program that stops before GLUT gets through.
std::string outputWithoutDisplay(const std::string& command, int& status)
{
    FILE* pipe = popen(("env -u DISPLAY " + command + " 2>&1").c_str(), "r");
    std::string text;
    if (pipe == nullptr) {
        status = -1;
        return text;
    }
    char buffer[1024];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    status = pclose(pipe);
    return text;
}

} // namespace

TEST(marlin, helpPrintsOneUsageParagraphWithoutADisplay)
{
    for (const char* option : {"--help", "-h"}) {
        int status = 0;
        const std::string text = outputWithoutDisplay(std::string(MARLIN_PATH) + " " + option, status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << option;
        EXPECT_EQ(text.rfind("Usage: marlin [SCENE_FILE [-turn]] [--light X,Y,Z[,R,G,B[,RANGE]]]...\n", 0), 0u) << text;
        // The usage line, one paragraph, then the options of the lights and the traced bake.
        const size_t options = text.find("Options, anywhere on the line");
        ASSERT_NE(options, std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.begin() + options, '\n'), 2) << text;
        for (const char* traced : {"--light", "--sun", "--shadows", "--light-radius", "--ao", "--bounces", "--samples"})
            EXPECT_NE(text.find(std::string("\n  ") + traced, options), std::string::npos) << traced;
    }
}

TEST(fixedCameraViewers, helpAnywhereOnTheLinePrintsOneUsageParagraphWithoutADisplay)
{
    const struct {
        const char* name;
        const char* path;
        bool mapExport;
    } programs[] = {{"tern", TERN_PATH, true}, {"heron", HERON_PATH, false}, {"tern_depth", TERN_DEPTH_PATH, true}};
    for (const auto& program : programs)
        for (const char* arguments : {"--help", "-h", "room.txt --help"}) {
            int status = 0;
            const std::string text = outputWithoutDisplay(std::string(program.path) + " " + arguments, status);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << program.name << " " << arguments;
            EXPECT_EQ(text.rfind(std::string("Usage: ") + program.name + " [SCENE_FILE]\n", 0), 0u) << text;
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
            EXPECT_NE(text.find("sphere_room.txt"), std::string::npos) << text;
            EXPECT_EQ(text.find("F write") != std::string::npos, program.mapExport) << text;
        }
}

// A scene file that cannot be read ends every viewer with status 1 and its one line, before a
// window opens (so without a display too); one without objects ends it once loaded.
TEST(allViewers, sceneThatCannotBeShownEndsWithStatusOne)
{
    const std::string folder = makeTempFolder("noscene");
    std::ofstream(folder + "/empty.txt") << "# nothing but a comment\n";
    virtualDisplay x;
    for (const char* path : {MARLIN_PATH, TERN_PATH, HERON_PATH, TERN_DEPTH_PATH}) {
        SCOPED_TRACE(path);
        int status = 0;
        const std::string missing = folder + "/missing.txt";
        const std::string text = outputWithoutDisplay(std::string(path) + " '" + missing + "'", status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_EQ(text, "ERROR: Scene file '" + missing + "' does not exist!\n");

        ASSERT_TRUE(x.ok()) << "no Xvfb";
        viewerProcess empty(x, path, {"empty.txt"}, folder);
        EXPECT_EQ(empty.waitForExit(60), 1) << empty.output();
        EXPECT_NE(empty.output().find("ERROR: Scene file 'empty.txt' has no object lines!\n"), std::string::npos)
            << empty.output();
    }
    removeFolder(folder);
}

namespace {

// The mean brightness of the pixels something was drawn on.
double litness(const bitmap& b)
{
    const colour background = b.pixelAt(0, b.height - 1);
    long long sum = 0, drawn = 0;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            if (!(b.pixelAt(x, y) == background)) {
                sum += brightness(b, x, y);
                ++drawn;
            }
    return drawn ? static_cast<double>(sum) / drawn : 0;
}

// The floor of writeScene lifted to y = 10, above marlin's light at (0, 5.721, 0).
void writeHighFloor(const std::string& folder)
{
    std::ofstream floor(folder + "/floor.obj");
    floor << "v -4 10 -4\nv 4 10 -4\nv 4 10 4\nv -4 10 4\n"
             "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 1 0\n"
             "f 1/1/1 4/4/1 3/3/1\nf 1/1/1 3/3/1 2/2/1\n";
    std::ofstream(folder + "/high.txt") << "floor.obj 50 50 50 200 200 200 255 255 255 20.0 NULL 1.0 64 64 NULL\n";
}

} // namespace

// A light given on the command line lights what it faces and stays where it was put when V
// frames the scene; G brings it to the eye. The light the program places itself is moved
// above the scene by V. Both in the material mode and in the lightmaps.
TEST(marlin, lightsArePlacedByTheCommandLineAndByGAndV)
{
    marlinRun below("placed", {"scene.txt", "--light", "0,-6,0"});
    ASSERT_TRUE(below.x.ok()) << "no Xvfb";
    ASSERT_TRUE(below.started()) << below.viewer->output();
    below.viewer->drag(1, 360, 100, 360, 500); // look down onto the floor
    auto dark = below.capture();
    below.viewer->key("v");
    auto stillDark = below.capture();
    below.viewer->key("g");
    auto lit = below.capture();
    below.viewer->key("t");
    auto litMap = below.capture();
    ASSERT_TRUE(dark && stillDark && lit && litMap) << below.viewer->output();
    EXPECT_GT(litness(*lit), litness(*dark) + 100);
    EXPECT_LT(litness(*stillDark), litness(*dark) + 50);
    EXPECT_GT(litness(*litMap), litness(*dark) + 100);

    marlinRun above("unplaced", {"scene.txt"});
    ASSERT_TRUE(above.started()) << above.viewer->output();
    above.viewer->drag(1, 360, 100, 360, 500);
    auto fromAbove = above.capture();
    ASSERT_NE(fromAbove, nullptr);
    EXPECT_GT(litness(*fromAbove), litness(*dark) + 100); // the default light faces the floor

    programRun high(MARLIN_PATH, {"high.txt"}, "high", writeHighFloor);
    ASSERT_TRUE(high.started("high.txt")) << high.viewer->output();
    high.viewer->drag(1, 360, 100, 360, 500);
    high.viewer->key("t");
    auto underLight = high.capture();
    high.viewer->key("v");
    auto framedAndLit = high.capture();
    ASSERT_TRUE(underLight && framedAndLit) << high.viewer->output();
    EXPECT_GT(litness(*framedAndLit), litness(*underLight) + 100);
}

// The wheel zooms the orbit, and no further in than the near plane allows.
TEST(marlin, wheelZoomsTheOrbit)
{
    marlinRun run("wheel");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    auto start = run.capture();
    run.viewer->wheel(5, 5); // down: away
    auto away = run.capture();
    run.viewer->wheel(4, 60); // up: far in, past any sensible distance
    auto near = run.capture();
    ASSERT_TRUE(start && away && near) << run.viewer->output();
    EXPECT_LT(drawnPixels(*away), drawnPixels(*start));
    EXPECT_GT(drawnPixels(*near), drawnPixels(*start));
    EXPECT_TRUE(run.viewer->running());
}
