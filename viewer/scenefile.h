#pragma once

#include "core/colour.h"
#include "viewer/scene.h"

#include <functional>
#include <string>
#include <vector>

class light;

// A complete object line has this many fields:
// OBJ path, ambient r g b, diffuse r g b, specular r g b, specular coefficient, bump map,
// bump coefficient, map width, map height, colour texture.
constexpr int sceneLineFields = 16;

// The material colours shared by the lines of one file: a line that stops early keeps the
// components it did not reach from the lines before it.
struct sceneColours {
    colour ambient{50, 50, 50, 255};
    colour diffuse{200, 200, 200, 255};
    colour specular{255, 255, 255, 255};
};

// What one line of a scene file says. Fields after the last one read keep these defaults.
struct sceneLine {
    int fields = 0; // fields read, in order; 0 for a line of white space only
    std::string objPath;
    float specularCoefficient = 0.0f;
    std::string bumpPath;
    float bumpCoefficient = 0.0f;
    int mapWidth = 0;
    int mapHeight = 0;
    std::string colourPath;
    std::string problem;         // the field that was not a number, and its word; none when all were
    bool clampedColours = false; // a colour component read was outside 0-255 and was clamped
};

// The lines of a file's text: a last line without a line break counts, nothing after a final
// line break does. Lines may be of any length.
std::vector<std::string> splitSceneLines(const std::string& text);

// Reads one line's fields in order up to the first that does not match, as sscanf would,
// saying which field did not and why; the colour components read, clamped to 0-255, replace
// those in colours. A line whose first word starts with '#' is a comment: no fields.
sceneLine parseSceneLine(const std::string& line, sceneColours& colours);

// Reads a scene file, loading, reporting and preparing one object per complete line into
// s.owned, s.objects and s.objectCount (only the objects actually made). A blank or comment
// line is skipped quietly; an incomplete line, one with a field that is not a number, one with
// a map size below 1 or over maxMapTexels and one whose OBJ cannot be loaded each get one
// "ERROR: " line with the file and line number and are skipped. Colours clamped to 0-255 get
// one "WARNING: " line per file.
// Preparation uses s's lights, eye, ambient colour, preparation terms and alpha test points,
// and for drawable objects needs a current GL context; dataOnly leaves out every OpenGL step.
// s.objectLines counts the object lines, made or skipped. A file that cannot be read leaves s
// untouched and gives 0.
enum class preparation { drawable, dataOnly };
int loadScene(const std::string& path, Scene& s, preparation how = preparation::drawable);
// The same with the file's text already read.
int loadSceneText(const std::string& path, const std::string& text, Scene& s,
                  preparation how = preparation::drawable);

// The scene file a viewer's command line names: its first word that is neither an option nor
// the value of GLUT's -display or -geometry; fallback when there is none.
std::string sceneArgument(int argc, char** argv, const std::string& fallback);
// The scene file's text; false after the one error line that says why.
bool readSceneFile(const std::string& path, std::string& text);

// A program's own part of the set-up: where the eye stands while the objects are prepared,
// and which lights shine (it links them into s.lights).
using sceneChoices = std::function<void(Scene&)>;

// The orbiting viewer: the eye at distance 1 from the centre along the camera angles, and
// s.defaultLight alone at (0, 5.721, 0) in (200, 200, 200).
void orbitViewAndLight(Scene& s);
// The fixed-camera viewers: the eye at (0, 0, -10) and l alone at (0, 0, -2) in (200, 200, 200).
void fixedViewAndLight(Scene& s, light& l);

// Sets the GL state, lets the program place its eye and lights, loads the scene (from text
// when the caller has read it, else from the file) and sets the clear colour. Needs a current
// GL context.
void setUpScene(const std::string& path, Scene& s, const sceneChoices& placeViewAndLights,
                const std::string* text = nullptr);

// What a viewer does at start: reads the scene file, so that a wrong path ends at once,
// display or not; then starts GLUT, opens the window titled with the path and sets the scene
// up from the text read. False when the viewer should end with status 1: the file could not
// be read (before any window opens) or gives no object to show.
bool openSceneWindow(int* argc, char** argv, const std::string& path, const sceneChoices& placeViewAndLights);
