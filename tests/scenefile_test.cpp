#include "viewer/scenefile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_EQ(colours.ambient, colour(1, 2, 50, 255));
    EXPECT_EQ(colours.diffuse, colour(200, 200, 200, 255));
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
    EXPECT_EQ(colours.ambient, colour(-1, 2, 3, 255));
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

} // namespace
