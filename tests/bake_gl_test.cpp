// The baker against the viewers: the same maps, byte for byte, a PNG of the same pixels and a
// mesh that reads back as the one that was lit; and its exit statuses.
#include "core/bitmap.h"
#include "core/console.h"
#include "core/image.h"
#include "mesh/object.h"
#include "tests/glcontext.h"
#include "viewer/capture.h"
#include "viewer/programs.h"
#include "viewer/scenefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct bakeRun {
    int status = -1;
    std::string output;
};

// The baker run from folder, its standard output kept.
bakeRun runBaker(const std::string& folder, const std::string& arguments)
{
    const std::string command = "cd '" + folder + "' && env -u DISPLAY " BAKE_PATH " " + arguments + " 2>&1";
    bakeRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string freshFolder(const std::string& name)
{
    std::string path = testing::TempDir() + "bake_" + name + "_" + std::to_string(getpid());
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

struct programCase {
    const char* program;
    const char* sceneFile;
};

class BakedLikeTheViewer : public ::testing::TestWithParam<programCase> {};

TEST_P(BakedLikeTheViewer, MapsMeshesAndLightmaps)
{
    REQUIRE_GL();
    const programCase& c = GetParam();
    const std::string baked = freshFolder(std::string(c.program) + "_baked");
    const std::string shown = freshFolder(std::string(c.program) + "_shown");
    bakeRun run = runBaker(SCENES_DIR, std::string("--maps --program ") + c.program + " " + c.sceneFile + " '" + baked + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("ERROR"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Baked 7 objects, skipped 0, in "), std::string::npos) << run.output;

    // The viewer's own set-up, in this process; its shadow-ray test reads the global scene,
    // which holds no objects while a scene is prepared.
    scene.owned.clear();
    scene.objects.clear();
    scene.objectCount = 0;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(SCENES_DIR), 0);
    auto s = std::make_unique<Scene>();
    viewerLights lights;
    {
        consoleCapture quiet;
        setUpScene(c.sceneFile, *s, [&](Scene& x) { chooseProgram(c.program, x, lights); });
        EXPECT_EQ(exportMaps(*s, shown), 0);
    }
    ASSERT_EQ(chdir(here), 0);
    ASSERT_EQ(s->objectCount, 7);

    for (int i = 0; i < s->objectCount; ++i) {
        SCOPED_TRACE("object " + std::to_string(i));
        char n[16];
        std::snprintf(n, sizeof n, "%02d", i);
        for (const char* kind : {"diffuse", "ambient", "specular", "alpha", "normals", "positions"})
            EXPECT_EQ(bytesOf(baked + "/" + kind + n + ".bmp"), bytesOf(shown + "/" + kind + n + ".bmp")) << kind;
        const object& obj = *s->objects[i];
        EXPECT_EQ(bytesOf(baked + "/final" + n + ".bmp"), encodeBmp(*obj.finalBitmap));

        const std::vector<uint8_t> png = bytesOf(baked + "/final" + n + ".png");
        std::unique_ptr<bitmap> decoded;
        {
            consoleCapture quiet;
            decoded = decodePng(png.data(), png.size(), "final.png");
        }
        ASSERT_NE(decoded, nullptr);
        ASSERT_EQ(decoded->byteCount(), obj.finalBitmap->byteCount());
        EXPECT_EQ(std::memcmp(decoded->pixels.get(), obj.finalBitmap->pixels.get(), decoded->byteCount()), 0);

        const std::vector<uint8_t> text = bytesOf(baked + "/mesh" + n + ".obj");
        std::unique_ptr<object> mesh;
        {
            consoleCapture quiet;
            mesh = parseObject(reinterpret_cast<const char*>(text.data()), text.size(), "mesh.obj", 0, 0);
        }
        ASSERT_NE(mesh, nullptr);
        ASSERT_EQ(mesh->polygonCount, obj.polygonCount);
        for (int p = 0; p < obj.polygonCount; ++p)
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(mesh->polygons[p].position[k], obj.polygons[p].position[k]) << p;
                ASSERT_EQ(mesh->polygons[p].normal[k], obj.polygons[p].normal[k]) << p;
                ASSERT_EQ(mesh->polygons[p].texCoord[k], obj.shadingPolygons[p].texCoord[k]) << p;
            }
        const std::vector<uint8_t> mtl = bytesOf(baked + "/mesh" + n + ".mtl");
        EXPECT_NE(std::string(mtl.begin(), mtl.end()).find("map_Kd final" + std::string(n) + ".png\n"), std::string::npos);
    }
    fs::remove_all(baked);
    fs::remove_all(shown);
}

INSTANTIATE_TEST_SUITE_P(Programs, BakedLikeTheViewer,
                         ::testing::Values(programCase{"marlin", "test2.txt"}, programCase{"tern", "sphere_room.txt"},
                                           programCase{"heron", "sphere_room.txt"},
                                           programCase{"tern_depth", "sphere_room.txt"}),
                         [](const ::testing::TestParamInfo<programCase>& info) { return std::string(info.param.program); });

TEST(Baker, ExitStatusSaysWhatWentWrong)
{
    const std::string folder = freshFolder("status");
    {
        std::ofstream(folder + "/tri.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
        std::ofstream(folder + "/good.txt") << "tri.obj 50 50 50 200 200 200 255 255 255 20 NULL 1 8 8 NULL\n";
        std::ofstream(folder + "/bad.txt") << "tri.obj 50 50 50 200 200 200 255 255 255 20 NULL 1 8 8 NULL\n"
                                              "tri.obj 50 50 50\n";
        std::ofstream(folder + "/notafolder") << "x";
    }
    struct statusCase {
        const char* arguments;
        int status;
        const char* says;
    } cases[] = {
        {"good.txt out", 0, "Baked 1 object, skipped 0, in "},
        {"--light 0,0,5,255,0,0,20 --light 1,2,3 --terms diffuse,specular good.txt out", 0, "Baked 1 object"},
        {"bad.txt out", 1, "Baked 1 object, skipped 1, in "},
        {"missing.txt out", 1, "ERROR: Scene file 'missing.txt' does not exist!"},
        {"good.txt notafolder/out", 1, "ERROR: Output folder 'notafolder/out' could not be made!"},
        {"", 2, "ERROR: a scene file and an output folder are needed!\nUsage: bake"},
        {"good.txt", 2, "Usage: bake [options] SCENE_FILE OUTPUT_FOLDER"},
        {"--frobnicate good.txt out", 2, "ERROR: unknown option '--frobnicate'!"},
        {"--light 1,2 good.txt out", 2, "ERROR: light '1,2' is not X,Y,Z[,R,G,B[,RANGE]]!"},
        {"--terms shiny good.txt out", 2, "ERROR: terms 'shiny'"},
        {"--program gull good.txt out", 2, "ERROR: unknown program 'gull'!"},
        {"--samples 0 good.txt out", 2, "ERROR: samples '0' is not a number from 1 to 65536!"},
        {"--bounces -1 good.txt out", 2, "ERROR: bounces '-1' is not a number from 0 to 16!"},
        {"--sun 0,0,0 good.txt out", 2, "ERROR: sun '0,0,0' is not DX,DY,DZ[,R,G,B]"},
        {"--light-radius -1 good.txt out", 2, "ERROR: light radius '-1' is not a number of 0 or more!"},
        {"--ao=abc good.txt out", 2, "ERROR: occlusion distance 'abc' is not a number above 0!"},
        {"--shadows --ao --bounces 1 --samples 4 --sun 0,1,0 good.txt out", 0, "Baked 1 object"},
        {"--help", 0, "Usage: bake [options] SCENE_FILE OUTPUT_FOLDER"},
    };
    for (const statusCase& c : cases) {
        SCOPED_TRACE(c.arguments);
        bakeRun run = runBaker(folder, c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }

    // A file that cannot be written: a folder stands where the lightmap would go.
    fs::create_directories(folder + "/blocked/final00.png");
    bakeRun blocked = runBaker(folder, "good.txt blocked");
    EXPECT_EQ(blocked.status, 1) << blocked.output;
    EXPECT_NE(blocked.output.find("ERROR: Could not write PNG file 'blocked/final00.png'!"), std::string::npos) << blocked.output;
    EXPECT_NE(blocked.output.find("ERROR: 1 file could not be written!"), std::string::npos) << blocked.output;
    EXPECT_TRUE(fs::exists(folder + "/blocked/mesh00.obj"));
    fs::remove_all(folder);
}

} // namespace
