#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

// Seen from the fixed camera at (0, 0, -10): a back wall at z = 2 facing the camera and a
// small occluder at z = 0 between the wall and the light's start at (0, 0, -2).
void writeSphereRoom(const std::string& folder)
{
    std::ofstream wall(folder + "/wall.obj");
    wall << "v -4 -4 2\nv 4 -4 2\nv 4 4 2\nv -4 4 2\n"
            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 -1\n"
            "f 1/1/1 3/3/1 2/2/1\nf 1/1/1 4/4/1 3/3/1\n";
    std::ofstream occluder(folder + "/occluder.obj");
    occluder << "v -0.5 -0.5 0\nv 0.5 -0.5 0\nv 0.5 0.5 0\nv -0.5 0.5 0\n"
                "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 -1\n"
                "f 1/1/1 3/3/1 2/2/1\nf 1/1/1 4/4/1 3/3/1\n";
    std::ofstream scene(folder + "/room.txt");
    scene << "wall.obj 50 50 50 200 200 200 255 255 255 20.0 NULL 1.0 64 64 NULL\n"
             "occluder.obj 50 50 50 200 100 100 255 255 255 20.0 NULL 1.0 16 16 NULL\n";
}

// For the circling lights: a back wall at z = 2 that shows its white ambient colour alone
// (no diffuse or specular colour), and a small occluder at z = 1 that the lights do change.
// The red light circles in the plane z = 0, so the occluder always throws its shadow on the
// wall, at 2 (occluder) - (light): a 2 x 2 square centred 3 units from the wall's middle.
// Texture coordinates run counter-clockwise as seen from the camera at -z.
void writeHeronRoom(const std::string& folder)
{
    std::ofstream wall(folder + "/wall.obj");
    wall << "v -4 -4 2\nv 4 -4 2\nv 4 4 2\nv -4 4 2\n"
            "vt 1 0\nvt 0 0\nvt 0 1\nvt 1 1\nvn 0 0 -1\n"
            "f 1/1/1 3/3/1 2/2/1\nf 1/1/1 4/4/1 3/3/1\n";
    std::ofstream occluder(folder + "/occluder.obj");
    occluder << "v -0.5 -0.5 1\nv 0.5 -0.5 1\nv 0.5 0.5 1\nv -0.5 0.5 1\n"
                "vt 1 0\nvt 0 0\nvt 0 1\nvt 1 1\nvn 0 0 -1\n"
                "f 1/1/1 3/3/1 2/2/1\nf 1/1/1 4/4/1 3/3/1\n";
    std::ofstream scene(folder + "/sphere_room.txt");
    scene << "wall.obj 255 255 255 0 0 0 0 0 0 20.0 NULL 1.0 64 64 NULL\n"
             "occluder.obj 50 50 50 200 200 200 0 0 0 20.0 NULL 1.0 16 16 NULL\n";
}

bool sameImage(const bitmap& a, const bitmap& b)
{
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels.get(), b.pixels.get(), a.byteCount()) == 0;
}

// The scene file the command line names, or sphere_room.txt without one; a word that is an
// option is no scene file.
struct variantRun : programRun {
    variantRun(const std::string& program, const std::string& name,
               void (*prepare)(const std::string&) = writeSphereRoom,
               const std::vector<std::string>& args = {"-turn", "room.txt"})
        : programRun(program, args, name, prepare), title(args.empty() ? "sphere_room.txt" : "room.txt") {}

    bool started() { return programRun::started(title); }
    std::string title;
};

// The pixels that differ between a frame with the light's marker and one without lie around
// (x, y), the light's place on screen (rows counted from the bottom).
void expectMarkerAround(const bitmap& marked, const bitmap& unmarked, int x, int y)
{
    int count = 0, minX = marked.width, maxX = -1, minY = marked.height, maxY = -1;
    for (int j = 0; j < marked.height; ++j)
        for (int i = 0; i < marked.width; ++i)
            if (marked.pixelAt(i, j) != unmarked.pixelAt(i, j)) {
                ++count;
                minX = std::min(minX, i);
                maxX = std::max(maxX, i);
                minY = std::min(minY, j);
                maxY = std::max(maxY, j);
            }
    EXPECT_GT(count, 500);
    EXPECT_NEAR((minX + maxX) / 2.0, x, 15);
    EXPECT_NEAR((minY + maxY) / 2.0, y, 15);
    EXPECT_LT(maxX - minX, 120);
    EXPECT_LT(maxY - minY, 120);
}

} // namespace

class draggedLight : public testing::TestWithParam<const char*> {};

TEST_P(draggedLight, followsTheMouseAndIgnoresT)
{
    const bool depth = std::string(GetParam()) == TERN_DEPTH_PATH;
    variantRun run(GetParam(), depth ? "tern_depth" : "tern");
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    EXPECT_NE(run.viewer->output().find("Object 'wall.obj' loaded successfully"), std::string::npos);
    EXPECT_EQ(run.viewer->output().find("ERROR"), std::string::npos) << run.viewer->output();

    auto start = run.capture();
    ASSERT_NE(start, nullptr);
    if (depth) {
        // L shows the marker at once, at the light's start (0, 0, -2): the middle of the window.
        run.viewer->key("l");
        auto marked = run.capture();
        ASSERT_NE(marked, nullptr);
        expectMarkerAround(*marked, *start, 360, 288);
        run.viewer->key("l");
    }
    run.viewer->key("t"); // no render modes here
    auto afterT = run.capture();
    ASSERT_NE(afterT, nullptr);
    EXPECT_TRUE(sameImage(*start, *afterT));

    // A drag ending at the window's centre puts the light at (0, 0, -5): the frame changes.
    run.viewer->drag(1, 100, 100, 360, 288);
    auto centred = run.capture();
    ASSERT_NE(centred, nullptr);
    EXPECT_FALSE(sameImage(*start, *centred));

    // H: tern shows it at the next redraw, tern_depth at once; a capture is drawn afresh,
    // so it shows the change in both.
    run.viewer->key("h");
    auto afterH = run.capture();
    ASSERT_NE(afterH, nullptr);
    EXPECT_FALSE(sameImage(*centred, *afterH));
    run.viewer->drag(1, 350, 280, 360, 288);
    auto redrawn = run.capture();
    ASSERT_NE(redrawn, nullptr);
    EXPECT_TRUE(sameImage(*afterH, *redrawn));

    // A drag to (180, 144) puts the light at (1, 1, -5); the camera at (0, 0, -10) with a
    // 75 degree view sees it 0.2 / tan(37.5 deg) x 288 = 75 pixels left of and above the middle.
    run.viewer->key("l");
    run.viewer->drag(1, 350, 280, 180, 144);
    auto marked = run.capture();
    run.viewer->key("l");
    run.viewer->drag(1, 350, 280, 180, 144);
    auto unmarked = run.capture();
    ASSERT_TRUE(marked && unmarked);
    expectMarkerAround(*marked, *unmarked, 285, 363);

    run.viewer->key("f");
    EXPECT_TRUE(waitForFile(run.folder + "/positions01.bmp"));
}

INSTANTIATE_TEST_SUITE_P(fixedCamera, draggedLight, testing::Values(TERN_PATH, TERN_DEPTH_PATH));

TEST(heron, animatesStartsWithoutShadowsAndExportsNothing)
{
    variantRun run(HERON_PATH, "heron", writeHeronRoom, {});
    ASSERT_TRUE(run.x.ok()) << "no Xvfb";
    ASSERT_TRUE(run.started()) << run.viewer->output();
    auto first = run.capture();
    auto second = run.capture();
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(sameImage(*first, *second)); // the lights circle on their own

    // The wall shows its ambient colour, 255 x 100 / 255 = 100 in each channel, wherever no
    // shadow volume darkens it; the quad of each volume keeps 1 - 0.333 of what it covers,
    // 2/3 x 100 = 67. Counted on the wall within 3.8 units of its middle (118 pixels at 12
    // units from the eye), leaving out the occluder and the axes (40 pixels around the middle).
    auto countWall = [](const bitmap& b, int low, int high) {
        int n = 0;
        for (int y = 288 - 118; y <= 288 + 118; ++y)
            for (int x = 360 - 118; x <= 360 + 118; ++x) {
                if (std::abs(x - 360) <= 40 && std::abs(y - 288) <= 40)
                    continue;
                int red = b.pixelAt(x, y).red;
                n += red >= low && red <= high;
            }
        return n;
    };
    const int wallPixels = 237 * 237 - 81 * 81;
    // Shadows start off: nothing darkened, although the red light's shadow always falls on
    // the wall.
    for (const bitmap* before : {first.get(), second.get()})
        EXPECT_EQ(countWall(*before, 98, 102), wallPixels);
    // After H the shadows are darkened by a third. Where two lights' shadows meet (near angles
    // 0 and pi the red and green lights stand together) they are darkened twice, so a few
    // frames are tried.
    run.viewer->key("h");
    int darkenedByAThird = 0;
    for (int attempt = 0; attempt < 4 && darkenedByAThird <= 1000; ++attempt) {
        auto shadowed = run.capture();
        ASSERT_NE(shadowed, nullptr);
        darkenedByAThird = countWall(*shadowed, 63, 71);
    }
    EXPECT_GT(darkenedByAThird, 1000);

    run.viewer->key("f");
    run.viewer->key("t");
    auto later = run.capture();
    ASSERT_NE(later, nullptr);
    EXPECT_FALSE(run.exists("diffuse00.bmp"));
    EXPECT_TRUE(run.viewer->running());
}
