#include "core/bitmap.h"
#include "core/console.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "tests/glcontext.h"
#include "tests/imagemagick.h"
#include "texlight/textures.h"
#include "viewer/scenefile.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char squareObj[] =
    "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 1\n"
    "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";

const std::string asterisks = "*******************************************************\n";

// A fresh folder holding a square mesh and two small BMP files.
class sceneFolder {
public:
    sceneFolder()
    {
        char name[] = "/tmp/scenefile_test_XXXXXX";
        const char* made = mkdtemp(name);
        dir = made ? made : "/tmp";
        write("square.obj", squareObj);
        bitmap image(4, 4, 3);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                image.setPixel(x, y, colour(int16_t(x * 60), int16_t(y * 60), 128, 255));
        consoleCapture quiet;
        writeBmp(path("map.bmp"), &image);
    }
    ~sceneFolder()
    {
        for (const std::string& f : files)
            std::remove(f.c_str());
        rmdir(dir.c_str());
    }

    std::string path(const std::string& name)
    {
        std::string p = dir + "/" + name;
        files.push_back(p);
        return p;
    }
    std::string write(const std::string& name, const std::string& text)
    {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    // A complete scene line for the square with small maps.
    std::string line(const std::string& bump = "NULL", const std::string& colourMap = "NULL")
    {
        return dir + "/square.obj 50 50 50 200 200 200 255 255 255 20 " + bump + " 1 8 8 " +
               colourMap;
    }

    std::string dir;

private:
    std::vector<std::string> files;
};

// A scene with one light, ready for loadScene.
struct loadedScene {
    std::unique_ptr<Scene> s = std::make_unique<Scene>();
    std::string console;
    int count = 0;

    explicit loadedScene(const std::string& path)
    {
        fixedViewAndLight(*s, s->defaultLight);
        consoleCapture capture;
        count = loadScene(path, *s);
        console = capture.text();
    }
};

int countOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

void expectAllValid(const Scene& s)
{
    ASSERT_EQ(s.objectCount, static_cast<int>(s.objects.size()));
    ASSERT_EQ(s.owned.size(), s.objects.size());
    for (int i = 0; i < s.objectCount; ++i) {
        ASSERT_NE(s.objects[i], nullptr);
        EXPECT_EQ(s.objects[i], s.owned[i].get());
        EXPECT_EQ(s.objects[i]->polygonCount, 2);
        EXPECT_NE(s.objects[i]->lightmapTextureId, 0u);
    }
}

TEST(LoadScene, ReportOfOneObject)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string scenePath = folder.write("one.txt", folder.line() + "\n");
    loadedScene loaded(scenePath);
    EXPECT_EQ(loaded.count, 1);
    expectAllValid(*loaded.s);

    const std::string& out = loaded.console;
    EXPECT_EQ(out.find(asterisks), 0u);
    size_t objectData = out.find("Object Data: \n");
    size_t material = out.find(
        "MATERIAL PROPERTIES:\n"
        "AMBIENT:  50,  50,  50 | DIFFUSE: 200, 200, 200 | SPECULAR 255, 255, 255\n\n"
        "TEXTURES:\n"
        "COLOUR TEXTURE: NULL | BUMP MAP TEXTURE: NULL\n\n"
        "COEFFICIENTS:\n"
        "SPECULAR COEFFICIENT: 20.000000 | BUMP COEFFICIENT: 1.000000\n\n");
    size_t preparation = out.find("SCALING OBJECTS UVS TO WITHIN 0 - 1 LIMITS!");
    ASSERT_NE(objectData, std::string::npos);
    ASSERT_NE(material, std::string::npos);
    ASSERT_NE(preparation, std::string::npos);
    EXPECT_LT(objectData, material);
    EXPECT_LT(material, preparation);
    EXPECT_EQ(out.find("Setting "), std::string::npos);
    EXPECT_EQ(out.find("ERROR"), std::string::npos);
}

TEST(LoadScene, CoefficientsAndColoursReachTheObject)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string scenePath = folder.write(
        "coefficients.txt",
        folder.dir + "/square.obj 5 10 255 1 2 3 7 8 9 12.5 NULL 0.25 8 4 NULL\n");
    loadedScene loaded(scenePath);
    ASSERT_EQ(loaded.count, 1);
    const object& obj = *loaded.s->objects[0];
    EXPECT_DOUBLE_EQ(obj.specularCoefficient, 12.5);
    EXPECT_DOUBLE_EQ(obj.bumpCoefficient, 0.25);
    EXPECT_EQ(obj.finalBitmap->width, 8);
    EXPECT_EQ(obj.finalBitmap->height, 4);
    ASSERT_TRUE(obj.ambientTexture.uniform && obj.diffuseTexture.uniform &&
                obj.specularTexture.uniform);
    EXPECT_EQ(*obj.ambientTexture.uniform, colour(5, 10, 255, 255));
    EXPECT_EQ(*obj.diffuseTexture.uniform, colour(1, 2, 3, 255));
    EXPECT_EQ(*obj.specularTexture.uniform, colour(7, 8, 9, 255));
    EXPECT_NE(loaded.console.find("AMBIENT:   5,  10, 255 | DIFFUSE:   1,   2,   3 | "
                                  "SPECULAR   7,   8,   9\n\n"),
              std::string::npos);
    EXPECT_NE(loaded.console.find("SPECULAR COEFFICIENT: 12.500000 | BUMP COEFFICIENT: 0.250000"),
              std::string::npos);
}

TEST(LoadScene, ThreeLinesWithOrWithoutFinalBreak)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string lines = folder.line() + "\n" + folder.line() + "\n" + folder.line();
    for (const std::string& text : {lines, lines + "\n"}) {
        loadedScene loaded(folder.write("three.txt", text));
        EXPECT_EQ(loaded.count, 3);
        expectAllValid(*loaded.s);
        EXPECT_EQ(countOf(loaded.console, asterisks), 3);
        EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos);
    }
}

TEST(LoadScene, BlankAndCommentLinesAreSkippedQuietly)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string text = "\n   \n# a comment\n" + folder.line() + "\n\n\t\r\n  #" + folder.line() + "\n" +
                       folder.line() + "\n\n";
    loadedScene loaded(folder.write("blank.txt", text));
    EXPECT_EQ(loaded.count, 2);
    EXPECT_EQ(loaded.s->objectLines, 2);
    expectAllValid(*loaded.s);
    EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos);
    EXPECT_EQ(loaded.console.find("WARNING"), std::string::npos);
    EXPECT_EQ(countOf(loaded.console, asterisks), 2);
}

// Colours outside 0-255 are clamped, with one warning for the whole file.
TEST(LoadScene, ColoursOutsideTheRangeAreClampedWithOneWarning)
{
    REQUIRE_GL();
    sceneFolder folder;
    const std::string obj = folder.dir + "/square.obj ";
    std::string scenePath = folder.write("loud.txt", obj + "300 -5 7 8 9 10 11 12 13 10 NULL 1 8 8 NULL\n" +
                                                         obj + "1 2 3 999 5 6 7 8 9 10 NULL 1 8 8 NULL\n");
    loadedScene loaded(scenePath);
    EXPECT_EQ(loaded.count, 2);
    EXPECT_EQ(countOf(loaded.console, "WARNING: "), 1);
    EXPECT_NE(loaded.console.find("WARNING: Scene file '" + scenePath + "' line 1 has colour values outside 0 to 255"),
              std::string::npos);
    EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos);
    EXPECT_NE(loaded.console.find("AMBIENT: 255,   0,   7 | DIFFUSE:   8,   9,  10"), std::string::npos);
    EXPECT_NE(loaded.console.find("AMBIENT:   1,   2,   3 | DIFFUSE: 255,   5,   6"), std::string::npos);
}

TEST(LoadScene, LineWithTooFewFieldsIsReportedAndSkipped)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string text = folder.line() + "\n" + folder.dir +
                       "/square.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 8\n" + folder.line() + "\n";
    std::string scenePath = folder.write("short.txt", text);
    loadedScene loaded(scenePath);
    EXPECT_EQ(loaded.count, 2);
    expectAllValid(*loaded.s);
    EXPECT_EQ(countOf(loaded.console, "ERROR: "), 1);
    EXPECT_NE(loaded.console.find("ERROR: Scene file '" + scenePath +
                                  "' line 2 has 14 of 16 fields, skipped!\n"),
              std::string::npos);
    EXPECT_EQ(countOf(loaded.console, asterisks), 2);

    // A field that is there but is no number, or no whole one, is named with its word.
    const std::string obj = folder.dir + "/square.obj ";
    scenePath = folder.write("words.txt", obj + "1 2 3 4 5 6 7 8 9 ten NULL 1 8 8 NULL\n" + obj +
                                              "1 2 3 4 5 6 7 8 9 10 NULL 1 64.5 8 NULL\n" + obj +
                                              "1 2 3 4 5 6 7 8 9 10 NULL 1x 8 8 NULL\n");
    loadedScene words(scenePath);
    EXPECT_EQ(words.count, 0);
    EXPECT_EQ(words.s->objectLines, 3);
    EXPECT_EQ(countOf(words.console, "ERROR: "), 3);
    for (const std::string& error :
         {"ERROR: Specular coefficient 'ten' is not a number (scene file '" + scenePath + "' line 1), skipped!\n",
          "ERROR: Map width '64.5' is not a whole number (scene file '" + scenePath + "' line 2), skipped!\n",
          "ERROR: Bump coefficient '1x' is not a number (scene file '" + scenePath + "' line 3), skipped!\n"})
        EXPECT_NE(words.console.find(error), std::string::npos) << error << words.console;
}

TEST(LoadScene, LineWhoseObjCannotBeLoadedIsReportedAndSkipped)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string missing = folder.dir + "/missing.obj";
    std::string text = folder.line() + "\n\n" + missing +
                       " 1 2 3 4 5 6 7 8 9 10 NULL 1 8 8 NULL\n" + folder.line();
    std::string scenePath = folder.write("missing.txt", text);
    loadedScene loaded(scenePath);
    EXPECT_EQ(loaded.count, 2);
    expectAllValid(*loaded.s);
    // The loader's own line, then one line naming the scene file and line.
    EXPECT_EQ(countOf(loaded.console, "ERROR: "), 2);
    EXPECT_EQ(countOf(loaded.console, scenePath), 1);
    EXPECT_NE(loaded.console.find("ERROR: Scene file '" + scenePath + "' line 3: OBJ file '" +
                                  missing + "' could not be loaded, skipped!\n"),
              std::string::npos);
    // The material of a skipped line is not reported.
    EXPECT_EQ(countOf(loaded.console, "MATERIAL PROPERTIES:"), 2);
}

TEST(LoadScene, MapSizeBelowOneIsReportedAndSkipped)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string text = folder.dir + "/square.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 0 8 NULL\n" +
                       folder.dir + "/square.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 8 -3 NULL\n" +
                       folder.line() + "\n";
    std::string scenePath = folder.write("sizes.txt", text);
    loadedScene loaded(scenePath);
    EXPECT_EQ(loaded.count, 1);
    expectAllValid(*loaded.s);
    EXPECT_EQ(countOf(loaded.console, "ERROR: "), 2);
    EXPECT_NE(loaded.console.find("ERROR: Scene file '" + scenePath +
                                  "' line 1 has map size 0 x 8, skipped!\n"),
              std::string::npos);
    EXPECT_NE(loaded.console.find("ERROR: Scene file '" + scenePath +
                                  "' line 2 has map size 8 x -3, skipped!\n"),
              std::string::npos);
}

TEST(LoadScene, LongLineWithLongPaths)
{
    REQUIRE_GL();
    sceneFolder folder;
    // "./" steps make paths thousands of characters long that still name the real files.
    std::string steps;
    for (int i = 0; i < 700; ++i)
        steps += "./";
    std::string objPath = folder.dir + "/" + steps + "square.obj";
    std::string bumpPath = folder.dir + "/" + steps + "map.bmp";
    std::string text = objPath + " 1 2 3 4 5 6 7 8 9 10 " + bumpPath + " 1 8 8 " + bumpPath;
    text += std::string(5000 - text.size(), ' ');
    ASSERT_EQ(text.size(), 5000u);
    loadedScene loaded(folder.write("long.txt", text + "\n" + folder.line() + "\n"));
    EXPECT_EQ(loaded.count, 2);
    expectAllValid(*loaded.s);
    EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos);
    EXPECT_NE(loaded.console.find("Setting bumpmap '" + bumpPath + "'!\n"), std::string::npos);
    ASSERT_GE(loaded.count, 1);
    EXPECT_NE(loaded.s->objects[0]->bumpMap, nullptr);
    EXPECT_NE(loaded.s->objects[0]->colourMap, nullptr);
}

TEST(LoadScene, MapsAreAttached)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string map = folder.dir + "/map.bmp";
    loadedScene loaded(folder.write("maps.txt", folder.line(map, map)));
    ASSERT_EQ(loaded.count, 1);
    const object& obj = *loaded.s->objects[0];
    ASSERT_NE(obj.bumpMap, nullptr);
    ASSERT_NE(obj.colourMap, nullptr);
    EXPECT_EQ(obj.colourMap->width, 4);
    EXPECT_NE(obj.colourTextureId, 0u);
    size_t bump = loaded.console.find("Setting bumpmap '" + map + "'!\n");
    size_t colourLine = loaded.console.find("Setting colour map '" + map + "'!\n");
    ASSERT_NE(bump, std::string::npos);
    ASSERT_NE(colourLine, std::string::npos);
    EXPECT_LT(bump, colourLine);
    EXPECT_NE(loaded.console.find("COLOUR TEXTURE: " + map + " | BUMP MAP TEXTURE: " + map),
              std::string::npos);
}

// The colour texture as ImageMagick's PNG copy of the BMP draws the same frame.
TEST(LoadScene, PngColourTextureDrawsLikeItsBmp)
{
    REQUIRE_GL();
    REQUIRE_IMAGEMAGICK();
    sceneFolder folder;
    const std::string bmp = folder.dir + "/map.bmp", png = folder.path("map.png");
    ASSERT_TRUE(convertImage("'" + bmp + "' '" + png + "'"));
    std::vector<uint8_t> frames[2];
    for (int i = 0; i < 2; ++i) {
        loadedScene loaded(folder.write("scene" + std::to_string(i) + ".txt", folder.line("NULL", i ? png : bmp)));
        ASSERT_EQ(loaded.count, 1);
        EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos) << loaded.console;
        // The square straight on, filling the window, in the texture's own colours.
        lookAtSquare();
        drawWithMaterials(loaded.s->objects[0]);
        frames[i].resize(64 * 64 * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, frames[i].data());
    }
    EXPECT_EQ(frames[0], frames[1]);
    // And the texture shows: its 16 texels blend into many colours.
    std::set<std::vector<uint8_t>> colours;
    for (size_t i = 0; i < frames[0].size(); i += 3)
        colours.insert(std::vector<uint8_t>(frames[0].begin() + i, frames[0].begin() + i + 3));
    EXPECT_GE(colours.size(), 16u);
}

TEST(LoadScene, NullIsCaseSensitive)
{
    REQUIRE_GL();
    sceneFolder folder;
    // Lower case "null" is a file name; run where no such file exists.
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(folder.dir.c_str()), 0);
    loadedScene upper(folder.write("upper.txt", folder.line("NULL", "NULL")));
    loadedScene lower(folder.write("lower.txt", folder.line("null", "null")));
    ASSERT_EQ(chdir(here), 0);

    ASSERT_EQ(upper.count, 1);
    EXPECT_EQ(upper.console.find("Setting "), std::string::npos);
    EXPECT_EQ(upper.s->objects[0]->bumpMap, nullptr);
    EXPECT_EQ(upper.s->objects[0]->colourMap, nullptr);

    ASSERT_EQ(lower.count, 1);
    EXPECT_NE(lower.console.find("Setting bumpmap 'null'!\n"), std::string::npos);
    EXPECT_NE(lower.console.find("Setting colour map 'null'!\n"), std::string::npos);
    EXPECT_EQ(countOf(lower.console, "ERROR: "), 2); // readBmp's, once for each map
    EXPECT_EQ(lower.s->objects[0]->bumpMap, nullptr);
    EXPECT_EQ(lower.s->objects[0]->colourMap, nullptr);
    EXPECT_EQ(lower.s->objects[0]->colourTextureId, 0u);
}

TEST(LoadScene, MissingFile)
{
    Scene s;
    object* marker = reinterpret_cast<object*>(&s); // any non-null value to see it kept
    s.objects.push_back(marker);
    s.objectCount = 1;
    consoleCapture capture;
    EXPECT_EQ(loadScene("/nonexistent/scene.txt", s), 0);
    EXPECT_EQ(capture.text(), "ERROR: Scene file '/nonexistent/scene.txt' does not exist!\n");
    ASSERT_EQ(s.objects.size(), 1u);
    EXPECT_EQ(s.objects[0], marker);
}

TEST(LoadScene, PathsThatAreNoSceneFilesOrHoldNoObjects)
{
    sceneFolder folder;
    const std::string fifo = folder.path("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Sparse: one byte over the limit costs no disk space.
    const std::string huge = folder.write("huge.txt", "");
    ASSERT_EQ(truncate(huge.c_str(), (64LL << 20) + 1), 0);
    struct Case {
        std::string path, text;
    } cases[] = {
        {"/tmp", "ERROR: Scene file '/tmp' is a directory, not a scene file!\n"},
        {"/dev/zero", "ERROR: Scene file '/dev/zero' is a device, not a scene file!\n"},
        {fifo, "ERROR: Scene file '" + fifo + "' is a FIFO, not a scene file!\n"},
        {huge, "ERROR: Scene file '" + huge + "' is 67108865 bytes, over the limit of 67108864!\n"},
        {folder.write("empty.txt", ""), ""},
        {folder.write("blank.txt", "\n  \n\t\n"), ""},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.path);
        if (k.text.empty())
            k.text = "ERROR: Scene file '" + k.path + "' has no object lines!\n";
        Scene s;
        consoleCapture capture;
        EXPECT_EQ(loadScene(k.path, s), 0);
        EXPECT_EQ(capture.text(), k.text);
        EXPECT_EQ(s.objectCount, 0);
    }
}

TEST(SetUpScene, OrbitingViewer)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string scenePath = folder.write("orbit.txt", folder.line() + "\n" + folder.line());
    auto s = std::make_unique<Scene>();
    {
        consoleCapture quiet;
        setUpScene(scenePath, *s, orbitViewAndLight);
    }
    EXPECT_EQ(s->objectCount, 2);
    expectAllValid(*s);
    EXPECT_DOUBLE_EQ(s->eye.x, -1.0);
    EXPECT_DOUBLE_EQ(s->eye.y, 0.0);
    EXPECT_DOUBLE_EQ(s->eye.z, 0.0);
    EXPECT_EQ(s->lights, &s->defaultLight);
    EXPECT_EQ(s->defaultLight.next, nullptr);
    EXPECT_EQ(s->defaultLight.position, vector(0, 5.721, 0));
    EXPECT_EQ(s->defaultLightPosition, vector(0, 5.721, 0));
    EXPECT_EQ(s->defaultLight.colour, colour(200, 200, 200, 255));

    for (GLenum cap : {GL_TEXTURE_2D, GL_DEPTH_TEST, GL_CULL_FACE, GL_NORMALIZE, GL_AUTO_NORMAL,
                       GL_BLEND})
        EXPECT_TRUE(glIsEnabled(cap)) << cap;
    GLint value = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &value);
    EXPECT_EQ(value, 1);
    glGetIntegerv(GL_BLEND_SRC, &value);
    EXPECT_EQ(value, GL_SRC_ALPHA);
    glGetIntegerv(GL_BLEND_DST, &value);
    EXPECT_EQ(value, GL_ONE_MINUS_SRC_ALPHA);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    EXPECT_EQ(clear[3], 1.0f);
    GLfloat ambient[4];
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, ambient);
    EXPECT_FLOAT_EQ(ambient[0], 0.5f);
    EXPECT_FLOAT_EQ(ambient[3], 1.0f);
}

TEST(SetUpScene, OrbitEyeFollowsTheCameraAngles)
{
    const double pi = 3.14159265358979323846;
    struct Case {
        double azimuth, elevation;
        vector eye; // with the centre at (1, 2, 3), one unit away from it
    } cases[] = {
        {0, 0, {0, 2, 3}},          // behind the centre along -x, looking along +x
        {pi / 2, 0, {1, 2, 2}},     // a quarter turn: along -z
        {pi, 0, {2, 2, 3}},         // half a turn: along +x
        {0, pi / 2, {1, 3, 3}},     // straight up
        {0, -pi / 2, {1, 1, 3}},    // straight down
        // cos 60 = 0.5 and sin 60 = 0.8660254, cos 45 = sin 45 = 0.7071068:
        // (1 - 0.5 * 0.7071068, 2 + 0.8660254, 3 - 0.5 * 0.7071068)
        {pi / 4, pi / 3, {0.6464466094067262, 2.8660254037844386, 2.6464466094067262}},
    };
    for (const Case& k : cases) {
        Scene s;
        s.centre = vector(1, 2, 3);
        s.cameraAzimuth = k.azimuth;
        s.cameraElevation = k.elevation;
        s.eye.w = 7.0;
        orbitViewAndLight(s);
        EXPECT_NEAR(s.eye.x, k.eye.x, 1e-12) << k.azimuth << ", " << k.elevation;
        EXPECT_NEAR(s.eye.y, k.eye.y, 1e-12) << k.azimuth << ", " << k.elevation;
        EXPECT_NEAR(s.eye.z, k.eye.z, 1e-12) << k.azimuth << ", " << k.elevation;
        EXPECT_EQ(s.eye.w, 7.0); // only x, y and z are placed
    }
}

TEST(SetUpScene, FixedViewer)
{
    REQUIRE_GL();
    sceneFolder folder;
    std::string scenePath = folder.write("fixed.txt", folder.line());
    auto s = std::make_unique<Scene>();
    pointlight lamp;
    {
        consoleCapture quiet;
        setUpScene(scenePath, *s, [&lamp](Scene& sc) { fixedViewAndLight(sc, lamp); });
    }
    EXPECT_EQ(s->objectCount, 1);
    EXPECT_EQ(s->eye, vector(0, 0, -10));
    EXPECT_EQ(s->centre, vector(0, 0, 0));
    EXPECT_EQ(s->lights, &lamp);
    EXPECT_EQ(lamp.next, nullptr);
    EXPECT_EQ(lamp.position, vector(0, 0, -2));
    EXPECT_EQ(lamp.colour, colour(200, 200, 200, 255));
}

TEST(SetUpScene, MissingSceneGivesAnEmptyScene)
{
    REQUIRE_GL();
    auto s = std::make_unique<Scene>();
    consoleCapture capture;
    setUpScene("/nonexistent/scene.txt", *s, orbitViewAndLight);
    EXPECT_EQ(s->objectCount, 0);
    EXPECT_EQ(capture.text(), "ERROR: Scene file '/nonexistent/scene.txt' does not exist!\n");
    EXPECT_EQ(s->lights, &s->defaultLight);
}

// The scenes shipped with the viewers load cleanly from their own folder.
void expectBundledSceneLoads(const std::string& name, sceneChoices choices, int objects)
{
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(SCENES_DIR), 0);
    auto s = std::make_unique<Scene>();
    std::string console;
    auto start = std::chrono::steady_clock::now();
    {
        consoleCapture capture;
        setUpScene(name, *s, choices);
        console = capture.text();
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(chdir(here), 0);
    std::printf("%s: %d objects prepared in %.2f s\n", name.c_str(), s->objectCount, seconds);

    EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;
    EXPECT_EQ(s->objectCount, objects);
    EXPECT_EQ(countOf(console, "Setting bumpmap '") > 0, true);
    EXPECT_EQ(countOf(console, "Setting colour map '") > 0, true);
    for (int i = 0; i < s->objectCount; ++i) {
        const object& obj = *s->objects[i];
        EXPECT_NE(obj.lightmapTextureId, 0u) << i;
        EXPECT_NE(obj.meshList, 0u) << i;
        EXPECT_GT(obj.edgeCount, 0) << i;
        if (obj.colourMap) {
            EXPECT_NE(obj.colourTextureId, 0u) << i;
        }
        // Every covered texel is lit with a real normal: no vertex of the meshes sits where
        // texel rows would meet it end-on and leave a black dot. Only a few texels beside the
        // ball's poles lie outside every triangle.
        const int w = obj.finalBitmap->width, h = obj.finalBitmap->height;
        int covered = 0, unlit = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (!obj.alphaMap[x][y])
                    continue;
                ++covered;
                const vector& n = obj.normalsMap[y][x];
                if (n.x == 0 && n.y == 0 && n.z == 0)
                    ++unlit;
            }
        EXPECT_GE(covered, w * h - w * h / 1000) << i;
        EXPECT_EQ(unlit, 0) << i;
    }
}

TEST(BundledScenes, DefaultSceneLoads)
{
    REQUIRE_GL();
    expectBundledSceneLoads("test2.txt", orbitViewAndLight, 7);
}

TEST(BundledScenes, SphereRoomLoads)
{
    REQUIRE_GL();
    pointlight lamp;
    expectBundledSceneLoads("sphere_room.txt", [&lamp](Scene& s) { fixedViewAndLight(s, lamp); },
                            7);
}

} // namespace
