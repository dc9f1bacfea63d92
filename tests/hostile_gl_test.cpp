#include "core/bitmap.h"
#include "core/console.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"
#include "tests/glcontext.h"
#include "tests/testdata.h"
#include "texlight/mapexport.h"
#include "viewer/input.h"
#include "viewer/passes.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

// Hostile scene files loaded as a viewer loads them, and the shared real meshes taken all the
// way from loading to exported maps. Both need OpenGL.

namespace {

namespace fs = std::filesystem;

// Runs in the folder of the hostile scenes, whose lines name their files relative to it.
class inFolder {
public:
    explicit inFolder(const std::string& dir)
    {
        char here[4096];
        ok = getcwd(here, sizeof here) != nullptr && chdir(dir.c_str()) == 0;
        if (ok)
            back = here;
    }
    ~inFolder()
    {
        if (ok && chdir(back.c_str()) != 0)
            std::perror("chdir");
    }
    bool ok = false;

private:
    std::string back;
};

std::vector<std::string> errorLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = text.find("ERROR: "); at != std::string::npos; at = text.find("ERROR: ", at + 1)) {
        size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    return lines;
}

const std::string longObj = std::string(5000, 'a') + ".obj";
const std::string longBump = std::string(3000, 'b') + ".bmp";
const char* const noUvs = "ERROR: Object has no UVs!";
const char* const noMeshList = "ERROR: No polygons in object!";
const char* const noShadingList = "ERROR: No shading polygons in object!";
const char* const vertexMsg = "ERROR: Vertex index is out of range!";

std::string about(const char* obj, const char* error) { return std::string(error) + " (../obj/" + obj + ")"; }

struct sceneCase {
    const char* file;
    int objects;
    std::vector<std::string> errors; // every "ERROR: " line in order; {} is the scene file
};

const std::vector<sceneCase>& sceneCases()
{
    static const std::vector<sceneCase> cases = {
        {"fields_missing.txt", 1,
         {"ERROR: Scene file '{}' line 1 has 14 of 16 fields, skipped!",
          "ERROR: Scene file '{}' line 2 has 1 of 16 fields, skipped!",
          "ERROR: Ambient green 'fifty' is not a number (scene file '{}' line 3), skipped!"}},
        {"fields_extra.txt", 1, {}},
        {"fields_overlong.txt", 2,
         {"ERROR: OBJ file '" + longObj + "' could not be opened!",
          "ERROR: Scene file '{}' line 1: OBJ file '" + longObj + "' could not be loaded, skipped!",
          "ERROR: File '" + longBump + "' could not be opened!"}},
        {"obj_missing.txt", 1,
         {"ERROR: OBJ file 'missing.obj' could not be opened!",
          "ERROR: Scene file '{}' line 1: OBJ file 'missing.obj' could not be loaded, skipped!"}},
        {"obj_is_folder.txt", 1,
         {"ERROR: OBJ file '.' could not be opened!",
          "ERROR: Scene file '{}' line 1: OBJ file '.' could not be loaded, skipped!"}},
        {"maps_missing.txt", 1,
         {"ERROR: File 'nothere_bump.bmp' could not be opened!",
          "ERROR: File 'nothere_colour.bmp' could not be opened!"}},
        // A damaged bump map beside a sound 16-bit colour texture, an endless device as a bump
        // map (read only as far as its header), then sound maps of 8 and 24 bits.
        {"maps_hostile.txt", 3,
         {"ERROR: BMP file '../bmp/cut_in_pixels.bmp' is truncated!", "ERROR: Not a valid BMP file!"}},
        {"map_size_huge.txt", 1,
         {"ERROR: Scene file '{}' line 1 has map size 100000 x 100000, over 16777216 texels, skipped!",
          "ERROR: Scene file '{}' line 2 has map size 4097 x 4096, over 16777216 texels, skipped!",
          "ERROR: Scene file '{}' line 3 has map size 2147483647 x 2147483647, over 16777216 texels, skipped!",
          "ERROR: Scene file '{}' line 4 has map size 65536 x 65536, over 16777216 texels, skipped!"}},
        // Meshes without texture coordinates, without anything, with infinite and undefined
        // numbers, with wild indices, long faces, bare keywords and noise: each is prepared
        // and drawn.
        // A mesh without texture coordinates gets a layout of its own; an object's errors
        // name its file.
        {"meshes_hostile.txt", 7,
         {about("empty.obj", noUvs), about("empty.obj", noMeshList), about("empty.obj", noShadingList),
          vertexMsg, // index_huge.obj, once
          about("binary_noise.obj", noUvs), about("binary_noise.obj", noMeshList),
          about("binary_noise.obj", noShadingList)}},
        {"nul_bytes.txt", 1, {"ERROR: Scene file '{}' line 1 has 4 of 16 fields, skipped!"}},
        {"line_ends_crlf.txt", 2, {}},
        {"no_final_line_break.txt", 2, {}},
    };
    return cases;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(HostileScene, EachFileGivesItsErrorLinesAndTheViewerGoesOn)
{
    REQUIRE_GL();
    std::set<std::string> untested;
    for (const fs::directory_entry& e : fs::directory_iterator(HOSTILE_DIR "/scene"))
        if (e.path().extension() == ".txt")
            untested.insert(e.path().filename().string());

    inFolder folder(HOSTILE_DIR "/scene");
    ASSERT_TRUE(folder.ok);
    for (const sceneCase& k : sceneCases()) {
        SCOPED_TRACE(k.file);
        untested.erase(k.file);
        std::string text;
        {
            consoleCapture capture;
            setUpScene(k.file, scene, orbitViewAndLight);
            text = capture.text();
        }
        std::vector<std::string> expected;
        for (const std::string& e : k.errors)
            expected.push_back(replaceAll(e, "{}", k.file));
        EXPECT_EQ(errorLines(text), expected);
        ASSERT_EQ(scene.objectCount, k.objects);

        // Every object made is whole: it has its maps and can be drawn in every mode, with
        // shadows, markers and all three lighting terms recomputed.
        bool listMissing = false;
        for (object* obj : scene.objects) {
            ASSERT_NE(obj, nullptr);
            EXPECT_NE(obj->lightmapTextureId, 0u);
            listMissing = listMissing || obj->meshList == 0 || obj->shadingList == 0;
        }
        while (glGetError() != GL_NO_ERROR) {
        }
        scene.shadowsOn = 1;
        scene.showLights = 1;
        scene.ambientTerm = scene.diffuseTerm = scene.specularTerm = 1;
        updateEye(scene);
        consoleCapture quiet;
        renderMaterialPass(scene.objects.data(), scene.objectCount);
        renderTextureSpacePass(scene.objects.data(), scene.objectCount);
        renderOutlinePass(scene.objects.data(), scene.objectCount);
        // An object without polygons or texture coordinates has no display list to call, and
        // calling list 0 is a GL error (harmless: nothing is drawn).
        if (!listMissing) {
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        }
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    EXPECT_TRUE(untested.empty()) << "scene files without a case, e.g. " << *untested.begin();

    // Back to an empty scene with the start-up switches, for whatever runs next.
    scene.owned.clear();
    scene.objects.clear();
    scene.objectCount = 0;
    scene.showLights = 0;
    scene.ambientTerm = scene.diffuseTerm = scene.specularTerm = 0;
}

// --- The shared real meshes --------------------------------------------------------------

class tempFolder {
public:
    tempFolder()
    {
        char name[] = "/tmp/hostile_gl_test_XXXXXX";
        const char* made = mkdtemp(name);
        dir = made ? made : "";
    }
    ~tempFolder()
    {
        std::error_code ec;
        if (!dir.empty())
            fs::remove_all(dir, ec);
    }
    std::string dir;
};

void expectMeshPreparesAndExports(const std::string& name, int polygons)
{
    const int w = 64, h = 32;
    std::unique_ptr<object> obj;
    std::string text;
    {
        consoleCapture capture;
        obj = loadObject(std::string(TESTDATA_DIR) + "/meshes/" + name, w, h);
        ASSERT_NE(obj, nullptr) << capture.text();
        pointlight lamp;
        lamp.setPosition(vector(0, 5.721, 0));
        lamp.setColour(colour(200, 200, 200, 255));
        preparationSettings settings;
        settings.lights = &lamp;
        settings.eye = vector(-1, 0, 0);
        settings.terms = {1, 1, 1};
        prepareObject(obj.get(), colour(50, 50, 50, 255), colour(200, 200, 200, 255),
                      colour(255, 255, 255, 255), settings);
        text = capture.text();
    }
    EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
    EXPECT_EQ(obj->polygonCount, polygons);
    EXPECT_NE(obj->lightmapTextureId, 0u);
    EXPECT_GT(obj->edgeCount, 0);

    // Some of the surface is covered and lit.
    int covered = 0;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            covered += obj->alphaMap[x][y] != nullptr;
    EXPECT_GT(covered, w * h / 10);

    tempFolder out;
    ASSERT_FALSE(out.dir.empty());
    for (unsigned kind = 0; kind <= 6; ++kind) {
        SCOPED_TRACE(kind);
        std::string path = out.dir + "/map" + std::to_string(kind) + ".bmp";
        consoleCapture capture;
        writeMap(obj.get(), kind, path);
        std::unique_ptr<bitmap> back = readBmp(path);
        ASSERT_NE(back, nullptr) << capture.text();
        EXPECT_EQ(back->width, w);
        EXPECT_EQ(back->height, h);
        EXPECT_EQ(back->bytesPerPixel, 3);
        EXPECT_EQ(capture.text(), kind == 5 ? "Writing Normals Map\n" : "");
    }
    // The coverage export is white exactly where a polygon covers the texel.
    consoleCapture quiet;
    std::unique_ptr<bitmap> alpha = readBmp(out.dir + "/map4.bmp");
    ASSERT_NE(alpha, nullptr);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            ASSERT_EQ(alpha->pixelAt(x, y).red, obj->alphaMap[x][y] ? 255 : 0) << x << "," << y;
}

TEST(RealMeshes, SpotLoadsPreparesAndExportsItsMaps)
{
    REQUIRE_GL();
    REQUIRE_TESTDATA();
    expectMeshPreparesAndExports("spot.obj", 5856);
}

TEST(RealMeshes, GazeboLoadsPreparesAndExportsItsMaps)
{
    REQUIRE_GL();
    REQUIRE_TESTDATA();
    expectMeshPreparesAndExports("gazebo.obj", 730);
}

} // namespace
