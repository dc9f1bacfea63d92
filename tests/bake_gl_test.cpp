// The baker against the viewers: the same maps, byte for byte, a PNG of the same pixels and a
// mesh that reads back as the one that was lit; and its exit statuses.
#include "core/bitmap.h"
#include "core/console.h"
#include "core/image.h"
#include "mesh/object.h"
#include "texlight/mapexport.h"
#include "tests/glcontext.h"
#include "viewer/capture.h"
#include "viewer/programs.h"
#include "viewer/scenefile.h"

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    std::string errors; // standard error
};

// The baker run from folder, its standard output and standard error kept.
bakeRun runBaker(const std::string& folder, const std::string& arguments)
{
    const std::string errorFile = testing::TempDir() + "bake_stderr_" + std::to_string(getpid());
    const std::string command =
        "cd '" + folder + "' && env -u DISPLAY " BAKE_PATH " " + arguments + " 2>'" + errorFile + "'";
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
    const std::vector<uint8_t> errors = bytesOf(errorFile);
    run.errors.assign(errors.begin(), errors.end());
    std::remove(errorFile.c_str());
    return run;
}

// The lines of a report that are error lines, each as a terminal shows it: after any progress
// text that a carriage return ended.
std::string errorLinesOf(const std::string& output)
{
    std::string errors;
    for (size_t at = 0, end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = output.substr(at, end - at);
        if (const size_t cr = line.rfind('\r'); cr != std::string::npos)
            line.erase(0, cr + 1);
        if (line.compare(0, 7, "ERROR: ") == 0)
            errors += line + "\n";
    }
    return errors;
}

// The summary line of a report, from "Baked" to its end.
std::string summaryOf(const std::string& output)
{
    const size_t at = output.rfind("Baked ");
    return at == std::string::npos ? "" : output.substr(at, output.find('\n', at) - at);
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
    EXPECT_EQ(run.errors, "");
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

    int filledAbove = 0; // texels outside a chart, just above it
    for (int i = 0; i < s->objectCount; ++i) {
        SCOPED_TRACE("object " + std::to_string(i));
        char n[16];
        std::snprintf(n, sizeof n, "%02d", i);
        for (const char* kind : {"diffuse", "ambient", "specular", "alpha", "normals", "positions"})
            EXPECT_EQ(bytesOf(baked + "/" + kind + n + ".bmp"), bytesOf(shown + "/" + kind + n + ".bmp")) << kind;
        // The viewer's lightmap, spread past its charts: every covered texel as the viewer
        // has it, the ring around each chart filled.
        const object& obj = *s->objects[i];
        const std::unique_ptr<bitmap> spread = dilateCharts(obj, *obj.finalBitmap);
        ASSERT_NE(spread, nullptr);
        EXPECT_EQ(bytesOf(baked + "/final" + n + ".bmp"), encodeBmp(*spread));
        for (int y = 0; y < spread->height; ++y)
            for (int x = 0; x < spread->width; ++x) {
                if (obj.alphaMap[x][y]) {
                    ASSERT_EQ(spread->pixelAt(x, y), obj.finalBitmap->pixelAt(x, y)) << x << "," << y;
                } else if (y > 0 && obj.alphaMap[x][y - 1]) {
                    // Of the texels one away, the one below comes first.
                    ASSERT_EQ(spread->pixelAt(x, y), obj.finalBitmap->pixelAt(x, y - 1)) << x << "," << y;
                    ++filledAbove;
                }
            }

        const std::vector<uint8_t> png = bytesOf(baked + "/final" + n + ".png");
        std::unique_ptr<bitmap> decoded;
        {
            consoleCapture quiet;
            decoded = decodePng(png.data(), png.size(), "final.png");
        }
        ASSERT_NE(decoded, nullptr);
        ASSERT_EQ(decoded->byteCount(), spread->byteCount());
        EXPECT_EQ(std::memcmp(decoded->pixels.get(), spread->pixels.get(), decoded->byteCount()), 0);

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
    EXPECT_GT(filledAbove, 0);
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
        {"--only 3-1 good.txt out", 2, "ERROR: object list '3-1' is not numbers and ranges as 0,3-5!"},
        {"--only 0,,1 good.txt out", 2, "ERROR: object list '0,,1' is not numbers and ranges as 0,3-5!"},
        {"--gltf --only 0 good.txt out", 2, "ERROR: --gltf writes the whole scene and cannot be combined with --only!"},
        {"--albedo good.txt out", 2, "ERROR: --albedo is for scene.glb: give --gltf with it!"},
        {"--gltf --albedo --only 0-3 --maps good.txt out", 2, "Usage: bake"},
        {"--gltf --albedo good.txt out", 0, "Baked 1 object, skipped 0, in "},
        {"--shadows --ao --bounces 1 --samples 4 --sun 0,1,0 good.txt out", 0, "Baked 1 object"},
        {"--help", 0, "Usage: bake [options] SCENE_FILE OUTPUT_FOLDER"},
    };
    for (const statusCase& c : cases) {
        SCOPED_TRACE(c.arguments);
        bakeRun run = runBaker(folder, c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        // Every error line once on standard error too, and nothing else there.
        EXPECT_EQ(run.errors, errorLinesOf(run.output));
        EXPECT_EQ(run.errors.empty(), c.status == 0) << run.errors;
    }

    // A file that cannot be written: a folder stands where the lightmap would go.
    fs::create_directories(folder + "/blocked/final00.png");
    bakeRun blocked = runBaker(folder, "good.txt blocked");
    EXPECT_EQ(blocked.status, 1) << blocked.output;
    EXPECT_NE(blocked.output.find("ERROR: Could not write PNG file 'blocked/final00.png'!"), std::string::npos) << blocked.output;
    EXPECT_NE(blocked.output.find("ERROR: 1 file could not be written!"), std::string::npos) << blocked.output;
    EXPECT_EQ(blocked.errors, "ERROR: Could not write PNG file 'blocked/final00.png'!\nERROR: 1 file could not be written!\n");
    EXPECT_TRUE(fs::exists(folder + "/blocked/mesh00.obj"));
    fs::remove_all(folder);
}

// Lights and terms of the command line are the ones baked: a red light alone gives no green
// or blue, ambient alone does not depend on the light.
TEST(Baker, OwnLightsAndTermsAreTheOnesBaked)
{
    const std::string folder = freshFolder("ownlights");
    std::ofstream(folder + "/tri.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";
    std::ofstream(folder + "/tri.txt") << "tri.obj 50 50 50 200 200 200 255 255 255 20 NULL 1 8 8 NULL\n";
    auto texel = [&](const std::string& arguments) {
        bakeRun run = runBaker(folder, arguments + " tri.txt out");
        EXPECT_EQ(run.status, 0) << run.output;
        consoleCapture quiet;
        std::unique_ptr<bitmap> map = readBmp(folder + "/out/final00.bmp");
        return map ? map->pixelAt(1, 1) : colour(-1, -1, -1, -1);
    };
    const colour red = texel("--light 0.2,0.2,5,255,0,0 --terms diffuse");
    EXPECT_GT(red.red, 100);
    EXPECT_EQ(red.green, 0);
    EXPECT_EQ(red.blue, 0);
    const colour ambient = texel("--light 0.2,0.2,5,255,0,0 --terms ambient");
    EXPECT_EQ(ambient, texel("--light 0.2,0.2,-5 --terms ambient"));
    EXPECT_EQ(ambient, colour(19, 19, 19, 255)); // 50 x 100 / 255
    const colour both = texel("--light 0.2,0.2,5,0,0,255 --light 0.2,0.2,5,0,255,0 --terms diffuse");
    EXPECT_EQ(both.red, 0);
    EXPECT_GT(both.green, 100);
    EXPECT_EQ(both.green, both.blue);
    fs::remove_all(folder);
}

// Objects baked without what their lines ask for: each cause fails the bake, says why on
// standard error and is counted in the summary, which is today's when there is none.
TEST(Baker, EveryFaultIsCountedAndFailsTheBake)
{
    const std::string folder = freshFolder("faults");
    {
        std::ofstream(folder + "/tri.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";
        std::ofstream(folder + "/faulty.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 4\nf 0 2 3 1\n";
        std::ofstream(folder + "/oneoff.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 3/9\n";
        std::ofstream(folder + "/bare.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        std::ofstream(folder + "/short.obj") << "v 0 0 0\nv 1 0 0\nf 1 2\n";
        std::ofstream(folder + "/notabmp.bmp") << "not an image";
        bitmap image(2, 2, 3);
        consoleCapture quiet;
        ASSERT_TRUE(writeBmp(folder + "/map.bmp", &image));
    }
    auto line = [](const std::string& obj, const std::string& bump, const std::string& colourMap) {
        return obj + " 50 50 50 200 200 200 255 255 255 20 " + bump + " 1 8 8 " + colourMap + "\n";
    };
    struct faultCase {
        const char* name;
        std::string scene;
        const char* error; // on standard error
        const char* counted; // the summary's end
    } cases[] = {
        {"clean", line("tri.obj", "map.bmp", "map.bmp"), "", ""},
        {"missing colour texture", line("tri.obj", "map.bmp", "missing.bmp"),
         "ERROR: File 'missing.bmp' could not be opened!\n", "; 1 colour texture not read"},
        {"missing bump map", line("tri.obj", "gone.bmp", "NULL"), "ERROR: File 'gone.bmp' could not be opened!\n",
         "; 1 bump map not read"},
        {"unreadable bump map", line("tri.obj", "notabmp.bmp", "map.bmp"), "ERROR: Not a valid BMP file!\n",
         "; 1 bump map not read"},
        {"unreadable colour texture", line("tri.obj", "NULL", "notabmp.bmp"), "ERROR: Not a valid BMP file!\n",
         "; 1 colour texture not read"},
        {"face index out of range", line("faulty.obj", "NULL", "NULL"), "ERROR: Vertex index is out of range!\n",
         "; 2 faces with indices out of range"},
        {"one face index out of range", line("oneoff.obj", "NULL", "NULL"), "ERROR: UV index is out of range!\n",
         "; 1 face with an index out of range"},
        {"object without triangles", line("bare.obj", "NULL", "NULL"), "ERROR: Object has no UVs! (bare.obj)\n",
         "; 1 object without triangles"},
        {"object of short faces only", line("short.obj", "NULL", "NULL"),
         "ERROR: Faces with fewer than three corners skipped!\n", "; 1 object without triangles"},
        {"all at once",
         line("bare.obj", "notabmp.bmp", "gone.bmp") + line("faulty.obj", "notabmp.bmp", "map.bmp") +
             line("bare.obj", "NULL", "NULL"),
         "ERROR: File 'gone.bmp' could not be opened!\n",
         "; 1 colour texture not read, 2 bump maps not read, 2 faces with indices out of range, 2 objects without triangles"},
    };
    for (const faultCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(folder + "/scene.txt") << c.scene;
        bakeRun run = runBaker(folder, "scene.txt out");
        const bool clean = *c.error == 0;
        EXPECT_EQ(run.status, clean ? 0 : 1) << run.output;
        EXPECT_EQ(run.errors, errorLinesOf(run.output));
        if (clean)
            EXPECT_EQ(run.errors, "");
        else
            EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
        const std::string summary = summaryOf(run.output);
        const std::string counted = c.counted;
        const std::string baked = c.scene.find('\n') + 1 < c.scene.size() ? "Baked 3 objects, skipped 0, in "
                                                                            : "Baked 1 object, skipped 0, in ";
        ASSERT_EQ(summary.compare(0, baked.size(), baked), 0) << run.output;
        // The time, then the counts alone.
        const size_t seconds = summary.find(" s", baked.size());
        ASSERT_NE(seconds, std::string::npos) << summary;
        EXPECT_EQ(summary.substr(seconds + 2), counted) << summary;
        EXPECT_TRUE(fs::exists(folder + "/out/final00.png"));
    }
    fs::remove_all(folder);
}

// A scene named by a path into another folder bakes as it does from its own folder, and a
// file the working directory holds under the same name is the one read.
TEST(Baker, SceneFromAnotherFolder)
{
    const std::string inside = freshFolder("inside");
    bakeRun own = runBaker(SCENES_DIR, "sphere_room.txt '" + inside + "'");
    ASSERT_EQ(own.status, 0) << own.output;

    const std::string elsewhere = freshFolder("elsewhere");
    bakeRun away = runBaker(elsewhere, "'" SCENES_DIR "/sphere_room.txt' out");
    ASSERT_EQ(away.status, 0) << away.output;
    EXPECT_EQ(away.errors, "");
    EXPECT_EQ(away.output.find("ERROR"), std::string::npos) << away.output;
    EXPECT_NE(away.output.find("FILE NAME: " SCENES_DIR "/meshes/sphere_room_floor.obj\n"), std::string::npos);
    int files = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(inside)) {
        SCOPED_TRACE(e.path().filename().string());
        EXPECT_EQ(bytesOf(e.path().string()), bytesOf(elsewhere + "/out/" + e.path().filename().string()));
        ++files;
    }
    EXPECT_EQ(files, 7 * 4);

    // A flat bump map of the crate's name where the program runs takes the place of the scene's.
    fs::create_directories(elsewhere + "/textures");
    bitmap flat(4, 4, 3);
    std::memset(flat.pixels.get(), 128, flat.byteCount());
    {
        consoleCapture quiet;
        ASSERT_TRUE(writeBmp(elsewhere + "/textures/crate_bump.bmp", &flat));
    }
    bakeRun mixed = runBaker(elsewhere, "'" SCENES_DIR "/sphere_room.txt' mixed");
    ASSERT_EQ(mixed.status, 0) << mixed.output;
    EXPECT_NE(mixed.output.find("Setting bumpmap 'textures/crate_bump.bmp'!\n"), std::string::npos) << mixed.output;
    EXPECT_NE(mixed.output.find("Setting bumpmap '" SCENES_DIR "/textures/bricks_bump.bmp'!\n"), std::string::npos);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bytesOf(elsewhere + "/mixed/final0" + std::to_string(i) + ".bmp"),
                  bytesOf(inside + "/final0" + std::to_string(i) + ".bmp")) << i;
    EXPECT_NE(bytesOf(elsewhere + "/mixed/final06.bmp"), bytesOf(inside + "/final06.bmp"));
    fs::remove_all(inside);
    fs::remove_all(elsewhere);
}

// Whether the glTF validator can run here; where it cannot, one line says why, and CI fails.
bool validatorReady()
{
    const bool ready = std::system("node --version >/dev/null 2>&1") == 0 &&
                       fs::exists(GLTF_TOOLS_DIR "/node_modules/gltf-validator/package.json");
    if (!ready && std::getenv("RENDER_REQUIRE_TOOLS"))
        ADD_FAILURE() << "The glTF validator is missing: tools/setup.sh installs Node.js and it";
    return ready;
}

// scene.glb for the bundled scenes: clean to the validator, and read back by a second reader
// as the meshes and lightmaps written beside it.
TEST(Baker, GltfOfTheBundledScenes)
{
    if (!validatorReady())
        GTEST_SKIP() << "The glTF validator is missing (tools/setup.sh installs it)";
    struct gltfCase {
        const char* arguments;
        bool albedo;
    } cases[] = {{"--gltf test2.txt", false}, {"--gltf --albedo test2.txt", true},
                 {"--gltf --program tern --shadows --samples 4 sphere_room.txt", false}};
    for (const gltfCase& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string out = freshFolder("gltf");
        bakeRun run = runBaker(SCENES_DIR, std::string(c.arguments) + " '" + out + "'");
        ASSERT_EQ(run.status, 0) << run.output;
        FILE* pipe = popen(("node " GLTF_TOOLS_DIR "/validate.js '" + out + "/scene.glb'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string report;
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            report.append(buffer, got);
        EXPECT_EQ(pclose(pipe), 0) << report;
        EXPECT_NE(report.find(": 0 errors, 0 warnings,"), std::string::npos) << report;
        EXPECT_NE(report.find(" 7 draw calls,"), std::string::npos) << report;

        tinygltf::Model model;
        tinygltf::TinyGLTF reader;
        std::string error, warning;
        ASSERT_TRUE(reader.LoadBinaryFromFile(&model, &error, &warning, out + "/scene.glb")) << error;
        ASSERT_EQ(model.nodes.size(), 7u);
        ASSERT_EQ(model.scenes.size(), 1u);
        EXPECT_EQ(model.scenes[0].nodes.size(), 7u);
        EXPECT_EQ(model.extensionsUsed, std::vector<std::string>{"KHR_materials_unlit"});
        for (int i = 0; i < 7; ++i) {
            const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
            SCOPED_TRACE("object " + n);
            const tinygltf::Node& node = model.nodes[static_cast<size_t>(i)];
            EXPECT_EQ(node.name, "object" + n);
            const tinygltf::Primitive& primitive = model.meshes[static_cast<size_t>(node.mesh)].primitives.at(0);
            auto floatsOf = [&](const char* attribute, int components) {
                const tinygltf::Accessor& a = model.accessors[static_cast<size_t>(primitive.attributes.at(attribute))];
                const tinygltf::BufferView& v = model.bufferViews[static_cast<size_t>(a.bufferView)];
                EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
                const float* f = reinterpret_cast<const float*>(model.buffers[0].data.data() + v.byteOffset + a.byteOffset);
                return std::vector<float>(f, f + a.count * static_cast<size_t>(components));
            };
            // The mesh written beside it: the same corners, its texture coordinates the first set
            // with the rows turned top down.
            const std::vector<uint8_t> text = bytesOf(out + "/mesh" + n + ".obj");
            std::unique_ptr<object> mesh;
            {
                consoleCapture quiet;
                mesh = parseObject(reinterpret_cast<const char*>(text.data()), text.size(), "mesh.obj", 0, 0);
            }
            ASSERT_NE(mesh, nullptr);
            const std::vector<float> positions = floatsOf("POSITION", 3), uvs = floatsOf("TEXCOORD_0", 2);
            ASSERT_EQ(positions.size(), 9u * static_cast<size_t>(mesh->polygonCount));
            for (int p = 0; p < mesh->polygonCount; ++p)
                for (int k = 0; k < 3; ++k) {
                    const size_t corner = 3 * static_cast<size_t>(p) + static_cast<size_t>(k);
                    ASSERT_EQ(positions[3 * corner], static_cast<float>(mesh->polygons[p].position[k].x));
                    ASSERT_EQ(positions[3 * corner + 2], static_cast<float>(mesh->polygons[p].position[k].z));
                    ASSERT_EQ(uvs[2 * corner + 1], static_cast<float>(1.0 - mesh->polygons[p].texCoord[k].y));
                }
            const std::vector<float> normals = floatsOf("NORMAL", 3);
            for (size_t corner = 0; corner < normals.size() / 3; ++corner)
                ASSERT_NEAR(std::hypot(normals[3 * corner], normals[3 * corner + 1], normals[3 * corner + 2]), 1.0, 1e-6);
            EXPECT_EQ(primitive.attributes.count("TEXCOORD_1"), 1u);

            // The texture: the PNG beside it, or with albedo the same lightmap times the colours.
            const tinygltf::Material& material = model.materials[static_cast<size_t>(primitive.material)];
            EXPECT_EQ(material.extensions.count("KHR_materials_unlit"), 1u);
            const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
            const tinygltf::Image& image = model.images[static_cast<size_t>(model.textures[static_cast<size_t>(texture)].source)];
            const tinygltf::BufferView& view = model.bufferViews[static_cast<size_t>(image.bufferView)];
            const std::vector<uint8_t> embedded(model.buffers[0].data.begin() + static_cast<long>(view.byteOffset),
                                                model.buffers[0].data.begin() + static_cast<long>(view.byteOffset + view.byteLength));
            const std::vector<uint8_t> png = bytesOf(out + "/final" + n + ".png");
            const bool coloured = c.albedo && i != 5; // the ball has no colour texture
            EXPECT_EQ(embedded == png, !coloured);
            if (coloured) {
                consoleCapture quiet;
                std::unique_ptr<bitmap> lit = decodePng(png.data(), png.size(), "final.png");
                std::unique_ptr<bitmap> shown = decodePng(embedded.data(), embedded.size(), "embedded.png");
                ASSERT_TRUE(lit && shown);
                ASSERT_EQ(lit->byteCount(), shown->byteCount());
                for (size_t b = 0; b < lit->byteCount(); ++b)
                    ASSERT_LE(shown->pixels[b], lit->pixels[b]) << b; // colours only darken
            }
        }
        fs::remove_all(out);
    }
}

// Objects baked alone write exactly the files the whole bake writes for them, whether the
// light is direct only or traced through every object.
TEST(Baker, OnlyTheListedObjectsAsTheWholeBakeHasThem)
{
    for (const std::string traced : {"", "--shadows --ao --bounces 2 --samples 4 --light-radius 0.3 "}) {
        SCOPED_TRACE(traced);
        const std::string whole = freshFolder("whole"), part = freshFolder("part");
        bakeRun all = runBaker(SCENES_DIR, traced + "test2.txt '" + whole + "'");
        ASSERT_EQ(all.status, 0) << all.output;
        bakeRun some = runBaker(SCENES_DIR, traced + "--only 5,1-2,20-30 test2.txt '" + part + "'");
        ASSERT_EQ(some.status, 0) << some.output;
        EXPECT_EQ(summaryOf(some.output).compare(0, 24, "Baked 3 of 7 objects, sk"), 0) << some.output;
        int files = 0;
        for (const fs::directory_entry& e : fs::directory_iterator(part)) {
            const std::string name = e.path().filename().string();
            SCOPED_TRACE(name);
            EXPECT_NE(name.find_first_of("125"), std::string::npos);
            EXPECT_EQ(bytesOf(e.path().string()), bytesOf(whole + "/" + name));
            ++files;
        }
        EXPECT_EQ(files, traced.empty() ? 3 * 4 : 3 * 5);
        fs::remove_all(whole);
        fs::remove_all(part);
    }
    bakeRun none = runBaker(SCENES_DIR, "--only 7-9 test2.txt '" + freshFolder("none") + "'");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.errors, "ERROR: --only lists none of the scene's 7 objects!\n");
    fs::remove_all(freshFolder("none"));
}

} // namespace
