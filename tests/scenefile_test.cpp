#include "viewer/scenefile.h"

#include "core/bitmap.h"
#include "core/console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

const char fullLine[] =
    "room.obj 10 20 30 40 50 60 70 80 90 20.5 bump.bmp 1.25 256 128 colour.bmp";

TEST(SceneLineSplit, LastLineWithoutBreakCounts)
{
    EXPECT_EQ(splitSceneLines("a\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SceneLineSplit, NothingAfterFinalBreakCounts)
{
    EXPECT_EQ(splitSceneLines("a\nb\nc\n"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SceneLineSplit, EmptyTextHasNoLines)
{
    EXPECT_TRUE(splitSceneLines("").empty());
}

TEST(SceneLineSplit, BlankLinesKeepTheirPlace)
{
    EXPECT_EQ(splitSceneLines("\n\na\n\n"), (std::vector<std::string>{"", "", "a", ""}));
}

TEST(SceneLineSplit, LongLinesStayWhole)
{
    std::string longLine(5000, 'x');
    std::vector<std::string> lines = splitSceneLines(longLine + "\nshort\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine);
    EXPECT_EQ(lines[1], "short");
}

TEST(SceneLineParse, CompleteLine)
{
    sceneColours colours;
    sceneLine line = parseSceneLine(fullLine, colours);
    EXPECT_EQ(line.fields, 16);
    EXPECT_EQ(line.objPath, "room.obj");
    EXPECT_EQ(colours.ambient, colour(10, 20, 30, 255));
    EXPECT_EQ(colours.diffuse, colour(40, 50, 60, 255));
    EXPECT_EQ(colours.specular, colour(70, 80, 90, 255));
    EXPECT_FLOAT_EQ(line.specularCoefficient, 20.5f);
    EXPECT_EQ(line.bumpPath, "bump.bmp");
    EXPECT_FLOAT_EQ(line.bumpCoefficient, 1.25f);
    EXPECT_EQ(line.mapWidth, 256);
    EXPECT_EQ(line.mapHeight, 128);
    EXPECT_EQ(line.colourPath, "colour.bmp");
}

TEST(SceneLineParse, StartColours)
{
    sceneColours colours;
    EXPECT_EQ(colours.ambient, colour(50, 50, 50, 255));
    EXPECT_EQ(colours.diffuse, colour(200, 200, 200, 255));
    EXPECT_EQ(colours.specular, colour(255, 255, 255, 255));
}

TEST(SceneLineParse, AnyWhiteSpaceSeparates)
{
    sceneColours colours;
    sceneLine line = parseSceneLine(
        "  a.obj\t1 2 3  4 5 6 7 8 9 5 NULL 1\t64 32 NULL  \r", colours);
    EXPECT_EQ(line.fields, 16);
    EXPECT_EQ(line.objPath, "a.obj");
    EXPECT_EQ(line.colourPath, "NULL"); // the carriage return of a DOS line is white space
    EXPECT_EQ(line.mapHeight, 32);
}

TEST(SceneLineParse, BlankLineReadsNothing)
{
    sceneColours colours;
    for (const char* blank : {"", "   ", "\t \r"}) {
        sceneLine line = parseSceneLine(blank, colours);
        EXPECT_EQ(line.fields, 0) << '"' << blank << '"';
    }
    EXPECT_EQ(colours.ambient, colour(50, 50, 50, 255));
}

TEST(SceneLineParse, ShortLineAssignsOnlyTheComponentsItReads)
{
    sceneColours colours;
    sceneLine line = parseSceneLine("a.obj 1 2 3 4", colours);
    EXPECT_EQ(line.fields, 5);
    EXPECT_EQ(colours.ambient, colour(1, 2, 3, 255));
    EXPECT_EQ(colours.diffuse, colour(4, 200, 200, 255));
    EXPECT_EQ(colours.specular, colour(255, 255, 255, 255));
    EXPECT_EQ(line.mapWidth, 0);
    EXPECT_TRUE(line.colourPath.empty());
}

TEST(SceneLineParse, ColoursCarryOverFromLineToLine)
{
    sceneColours colours;
    parseSceneLine(fullLine, colours);
    sceneLine second = parseSceneLine("b.obj 7 7", colours);
    EXPECT_EQ(second.fields, 3);
    EXPECT_EQ(colours.ambient, colour(7, 7, 30, 255));
    EXPECT_EQ(colours.diffuse, colour(40, 50, 60, 255));
    EXPECT_EQ(colours.specular, colour(70, 80, 90, 255));
}

TEST(SceneLineParse, StopsAtTheFirstMismatch)
{
    sceneColours colours;
    sceneLine line = parseSceneLine("a.obj 1 2 x 4 5 6", colours);
    EXPECT_EQ(line.fields, 3);
    EXPECT_EQ(line.problem, "Ambient blue 'x' is not a number");
    EXPECT_EQ(colours.ambient, colour(1, 2, 50, 255));
    EXPECT_EQ(colours.diffuse, colour(200, 200, 200, 255));

    // A number with more after it counts and is kept, as before, and then stops the line.
    struct mismatch {
        const char* line;
        int fields;
        const char* problem;
    } cases[] = {
        {"a.obj 1 2 3 4 5 6 7 8 9 ten NULL 1 64 64 NULL", 10, "Specular coefficient 'ten' is not a number"},
        {"a.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 64.5 64 NULL", 14, "Map width '64.5' is not a whole number"},
        {"a.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 64 1e2 NULL", 15, "Map height '1e2' is not a whole number"},
        {"a.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 64 64x NULL", 15, "Map height '64x' is not a number"},
        {"a.obj 1 2 3 4 5 6 7 8 9.5 10 NULL 1 64 64 NULL", 10, "Specular blue '9.5' is not a whole number"},
        {"a.obj 1 2 3 4 5 6 7 8 9 10 NULL one 64 64 NULL", 12, "Bump coefficient 'one' is not a number"},
    };
    for (const mismatch& c : cases) {
        sceneColours start;
        line = parseSceneLine(c.line, start);
        EXPECT_EQ(line.fields, c.fields) << c.line;
        EXPECT_EQ(line.problem, c.problem) << c.line;
    }
    sceneColours start;
    EXPECT_EQ(parseSceneLine("a.obj 7 " + std::string(100, 'z'), start).problem,
              "Ambient green '" + std::string(37, 'z') + "...' is not a number");
    EXPECT_EQ(parseSceneLine("#a.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 64 64 NULL", start).fields, 0);
    EXPECT_EQ(start.ambient, colour(7, 50, 50, 255));
}

TEST(SceneLineParse, FifteenFieldsLackTheColourTexture)
{
    sceneColours colours;
    sceneLine line = parseSceneLine("a.obj 1 2 3 4 5 6 7 8 9 10 NULL 1 64 64", colours);
    EXPECT_EQ(line.fields, 15);
    EXPECT_EQ(line.mapWidth, 64);
    EXPECT_TRUE(line.colourPath.empty());
}

TEST(SceneLineParse, FieldsOfAnyLength)
{
    const std::string objPath = "dir/" + std::string(3000, 'o') + ".obj";
    const std::string bumpPath = std::string(1500, 'b') + ".bmp";
    const std::string colourPath = std::string(1200, 'c') + ".bmp";
    sceneColours colours;
    sceneLine line = parseSceneLine(objPath + " 1 2 3 4 5 6 7 8 9 10 " + bumpPath +
                                        " 1 64 64 " + colourPath,
                                    colours);
    EXPECT_EQ(line.fields, 16);
    EXPECT_EQ(line.objPath, objPath);
    EXPECT_EQ(line.bumpPath, bumpPath);
    EXPECT_EQ(line.colourPath, colourPath);
}

TEST(SceneLineParse, NegativeAndSignedNumbers)
{
    sceneColours colours;
    sceneLine line = parseSceneLine("a.obj -1 +2 3 4 5 6 7 8 9 -2.5e1 NULL .5 -64 0 NULL", colours);
    EXPECT_EQ(line.fields, 16);
    EXPECT_TRUE(line.clampedColours);
    EXPECT_EQ(colours.ambient, colour(0, 2, 3, 255));
    EXPECT_FLOAT_EQ(line.specularCoefficient, -25.0f);
    EXPECT_FLOAT_EQ(line.bumpCoefficient, 0.5f);
    EXPECT_EQ(line.mapWidth, -64);
    EXPECT_EQ(line.mapHeight, 0);
}

TEST(SceneLineParse, TrailingWordsAreIgnored)
{
    sceneColours colours;
    sceneLine line = parseSceneLine(std::string(fullLine) + " extra words", colours);
    EXPECT_EQ(line.fields, 16);
    EXPECT_EQ(line.colourPath, "colour.bmp");
}

TEST(SceneLineParse, TextAfterANulByteIsNotRead)
{
    sceneColours colours;
    std::string line = std::string("a.obj 1 2") + '\0' + " 3 4 5 6 7 8 9 10 NULL 1 64 64 NULL";
    EXPECT_EQ(parseSceneLine(line, colours).fields, 3);
}

namespace fs = std::filesystem;

const char triangleObj[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";
const char squareObj[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n";

// A folder of its own, with the working directory moved into its "here" subfolder for a test.
class sceneFolders {
public:
    sceneFolders()
    {
        char name[] = "/tmp/scenefolders_test_XXXXXX";
        const char* made = mkdtemp(name);
        root = made ? made : "/tmp/scenefolders_test";
        fs::create_directories(root + "/here");
        fs::create_directories(root + "/scene/maps");
        if (getcwd(previous, sizeof previous) && chdir((root + "/here").c_str()) == 0)
            moved = true;
    }
    ~sceneFolders()
    {
        if (moved && chdir(previous) != 0)
            ADD_FAILURE() << "could not return to " << previous;
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    void write(const std::string& path, const std::string& text)
    {
        std::ofstream(root + "/" + path, std::ios::binary) << text;
    }
    void writeMap(const std::string& path)
    {
        bitmap image(2, 2, 3);
        consoleCapture quiet;
        writeBmp(root + "/" + path, &image);
    }

    std::string root;
    bool moved = false;

private:
    char previous[4096] = {};
};

std::string sceneLineFor(const std::string& obj, const std::string& bump = "NULL", const std::string& colourMap = "NULL")
{
    return obj + " 50 50 50 200 200 200 255 255 255 20 " + bump + " 1 8 8 " + colourMap + "\n";
}

struct loadedData {
    std::unique_ptr<Scene> s = std::make_unique<Scene>();
    std::string console;

    explicit loadedData(const std::string& path)
    {
        fixedViewAndLight(*s, s->defaultLight);
        consoleCapture capture;
        loadScene(path, *s, preparation::dataOnly);
        console = capture.text();
    }
};

TEST(SceneFolderLookup, FilesBesideTheSceneAreFoundFromAnotherFolder)
{
    sceneFolders f;
    ASSERT_TRUE(f.moved);
    f.write("scene/tri.obj", triangleObj);
    f.writeMap("scene/maps/map.bmp");
    f.write("scene/s.txt", sceneLineFor("tri.obj", "maps/map.bmp", "maps/map.bmp"));
    for (const std::string& path : {std::string("../scene/s.txt"), f.root + "/scene/s.txt"}) {
        SCOPED_TRACE(path);
        loadedData loaded(path);
        ASSERT_EQ(loaded.s->objectCount, 1) << loaded.console;
        EXPECT_EQ(loaded.console.find("ERROR"), std::string::npos) << loaded.console;
        EXPECT_EQ(loaded.s->objects[0]->polygonCount, 1);
        EXPECT_NE(loaded.s->objects[0]->bumpMap, nullptr);
        EXPECT_NE(loaded.s->objects[0]->colourMap, nullptr);
        EXPECT_FALSE(loaded.s->problems.any());
    }
}

TEST(SceneFolderLookup, TheWorkingDirectoryWins)
{
    sceneFolders f;
    ASSERT_TRUE(f.moved);
    f.write("scene/tri.obj", triangleObj);
    f.write("here/tri.obj", squareObj);
    f.write("scene/s.txt", sceneLineFor("tri.obj"));
    loadedData loaded("../scene/s.txt");
    ASSERT_EQ(loaded.s->objectCount, 1) << loaded.console;
    EXPECT_EQ(loaded.s->objects[0]->polygonCount, 2);
    EXPECT_NE(loaded.console.find("FILE NAME: tri.obj\n"), std::string::npos) << loaded.console;
}

TEST(SceneFolderLookup, FilesFoundNowhereAreNamedAsWritten)
{
    sceneFolders f;
    ASSERT_TRUE(f.moved);
    f.write("scene/tri.obj", triangleObj);
    f.write("scene/s.txt", sceneLineFor("gone.obj") + sceneLineFor("tri.obj", "maps/none.bmp", "NULL"));
    loadedData loaded("../scene/s.txt");
    EXPECT_EQ(loaded.s->objectCount, 1);
    EXPECT_NE(loaded.console.find("ERROR: OBJ file 'gone.obj' could not be opened!\n"), std::string::npos);
    EXPECT_NE(loaded.console.find("ERROR: Scene file '../scene/s.txt' line 1: OBJ file 'gone.obj' could not be loaded, skipped!\n"),
              std::string::npos);
    EXPECT_NE(loaded.console.find("ERROR: File 'maps/none.bmp' could not be opened!\n"), std::string::npos);
    EXPECT_EQ(loaded.s->problems.bumpMapsNotRead, 1);
}

// Each kind of fault is counted where it is reported, and the report stays as it was.
TEST(SceneProblems, EachCauseIsCounted)
{
    sceneFolders f;
    ASSERT_TRUE(f.moved);
    f.write("here/tri.obj", triangleObj);
    f.write("here/faulty.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 4\nf 0 2 3\nf 1 -7 3 2\n");
    f.write("here/bare.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    f.write("here/notabmp.bmp", "not an image at all");
    f.writeMap("here/map.bmp");
    f.write("here/s.txt", sceneLineFor("tri.obj", "map.bmp", "missing.bmp") +
                              sceneLineFor("tri.obj", "notabmp.bmp", "map.bmp") +
                              sceneLineFor("faulty.obj") + sceneLineFor("bare.obj") +
                              sceneLineFor("tri.obj", "gone.bmp", "gone.png"));
    loadedData loaded("s.txt");
    EXPECT_EQ(loaded.s->objectCount, 5);
    const loadProblems& p = loaded.s->problems;
    EXPECT_EQ(p.coloursNotRead, 2);
    EXPECT_EQ(p.bumpMapsNotRead, 2);
    EXPECT_EQ(p.facesOutOfRange, 3);
    EXPECT_EQ(p.objectsWithoutTriangles, 1);
    EXPECT_TRUE(p.any());
    EXPECT_EQ(loaded.console.find(" not read"), std::string::npos);

    f.write("here/clean.txt", sceneLineFor("tri.obj", "map.bmp", "map.bmp"));
    loadedData clean("clean.txt");
    EXPECT_EQ(clean.s->objectCount, 1);
    EXPECT_FALSE(clean.s->problems.any());
}

} // namespace
