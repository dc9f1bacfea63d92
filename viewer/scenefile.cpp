#include "viewer/scenefile.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "core/image.h"
#include "core/wholefile.h"
#include "lights/light.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"
#include "viewer/window.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

// Scene files are a few lines; anything this large is a mistake, refused before reading.
constexpr long long maxSceneBytes = 64LL << 20;

} // namespace

// False after one error line when the file is missing, not a regular file, too large or
// unreadable.
bool readSceneFile(const std::string& path, std::string& text)
{
    const wholeFile file = readWholeFile(path, maxSceneBytes);
    switch (file.fault) {
    case fileFault::none: text.assign(file.data.get(), file.size); return true;
    case fileFault::missing: say("ERROR: Scene file '%s' does not exist!\n", path.c_str()); break;
    case fileFault::unopenable:
        say("ERROR: Scene file '%s' could not be opened: %s!\n", path.c_str(), std::strerror(file.error));
        break;
    case fileFault::notRegular:
        say("ERROR: Scene file '%s' is %s, not a scene file!\n", path.c_str(), file.kind);
        break;
    case fileFault::tooLarge:
        say("ERROR: Scene file '%s' is %lld bytes, over the limit of %lld!\n", path.c_str(), file.fileSize,
            maxSceneBytes);
        break;
    case fileFault::unreadable: say("ERROR: Scene file '%s' could not be read whole!\n", path.c_str()); break;
    }
    return false;
}

namespace {

preparationSettings settingsFor(const Scene& s)
{
    preparationSettings settings;
    settings.terms = {s.prepareAmbient, s.prepareDiffuse, s.prepareSpecular};
    settings.ambientColour = s.ambientColour;
    settings.lights = s.lights;
    settings.eye = s.eye;
    settings.alphaPoints = s.alphaPoints;
    return settings;
}

// The folder of a scene file's path, ending in its slash; empty for a file named alone.
std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A scene given by a path into another folder still finds the files its lines name, while
// the working directory keeps the first say; a file found nowhere is named as written.
std::string besideScene(const std::string& path, const std::string& folder)
{
    struct stat info;
    if (folder.empty() || path.empty() || path[0] == '/' || ::stat(path.c_str(), &info) == 0)
        return path;
    const std::string beside = folder + path;
    return ::stat(beside.c_str(), &info) == 0 ? beside : path;
}

void placeLight(Scene& s, light& l, vector position)
{
    s.defaultLightPosition.set(position.x, position.y, position.z);
    l.setPosition(s.defaultLightPosition);
    l.setColour(colour(200, 200, 200, 255));
    l.next = nullptr;
    s.lights = &l;
}

} // namespace

std::vector<std::string> splitSceneLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

namespace {

// A field of a scene line: its name for error lines and where it goes, one of a word, a
// whole number or a real number.
struct lineField {
    const char* name;
    std::string* word;
    int* whole;
    float* real;
};

// The words of a line up to its first NUL byte, split at any white space, as many as fields.
std::vector<std::string> lineWords(const std::string& line)
{
    std::vector<std::string> words;
    const char* at = line.c_str(); // stops at a NUL byte, as the C reader it replaces did
    while (words.size() < static_cast<size_t>(sceneLineFields)) {
        while (*at && std::isspace(static_cast<unsigned char>(*at)))
            ++at;
        if (!*at)
            break;
        const char* start = at;
        while (*at && !std::isspace(static_cast<unsigned char>(*at)))
            ++at;
        words.emplace_back(start, at);
    }
    return words;
}

// A word as the error line shows it: a long one cut short.
std::string shown(const std::string& word)
{
    return word.size() <= 40 ? word : word.substr(0, 37) + "...";
}

} // namespace

sceneLine parseSceneLine(const std::string& line, sceneColours& colours)
{
    sceneLine out;
    const std::vector<std::string> words = lineWords(line);
    if (words.empty() || words[0][0] == '#')
        return out;
    int c[9] = {colours.ambient.red,  colours.ambient.green,  colours.ambient.blue,
                colours.diffuse.red,  colours.diffuse.green,  colours.diffuse.blue,
                colours.specular.red, colours.specular.green, colours.specular.blue};
    const lineField fields[sceneLineFields] = {
        {"OBJ file", &out.objPath, nullptr, nullptr},
        {"Ambient red", nullptr, &c[0], nullptr},
        {"Ambient green", nullptr, &c[1], nullptr},
        {"Ambient blue", nullptr, &c[2], nullptr},
        {"Diffuse red", nullptr, &c[3], nullptr},
        {"Diffuse green", nullptr, &c[4], nullptr},
        {"Diffuse blue", nullptr, &c[5], nullptr},
        {"Specular red", nullptr, &c[6], nullptr},
        {"Specular green", nullptr, &c[7], nullptr},
        {"Specular blue", nullptr, &c[8], nullptr},
        {"Specular coefficient", nullptr, nullptr, &out.specularCoefficient},
        {"Bump map", &out.bumpPath, nullptr, nullptr},
        {"Bump coefficient", nullptr, nullptr, &out.bumpCoefficient},
        {"Map width", nullptr, &out.mapWidth, nullptr},
        {"Map height", nullptr, &out.mapHeight, nullptr},
        {"Colour texture", &out.colourPath, nullptr, nullptr},
    };

    // Fields are read in order up to the first that is not what it should be. As before, a
    // number followed by other text still counts and is kept, so the colours a broken line
    // leaves to the next lines are the same; the line now says which field was wrong.
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const lineField& field = fields[i];
        if (field.word) {
            *field.word = word;
            ++out.fields;
            continue;
        }
        char* end = nullptr;
        if (field.whole) {
            const long long value = std::strtoll(word.c_str(), &end, 10);
            if (end != word.c_str()) {
                *field.whole = static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
                ++out.fields;
            }
        } else {
            const float value = std::strtof(word.c_str(), &end);
            if (end != word.c_str()) {
                *field.real = value;
                ++out.fields;
            }
        }
        if (*end) {
            char* realEnd = nullptr;
            std::strtod(word.c_str(), &realEnd);
            const bool fractional = field.whole && realEnd != word.c_str() && !*realEnd;
            out.problem = std::string(field.name) + " '" + shown(word) + "' is not a " +
                          (fractional ? "whole number" : "number");
            break;
        }
    }

    colour* targets[3] = {&colours.ambient, &colours.diffuse, &colours.specular};
    for (int i = 0; i < 9; ++i) {
        const int value = std::clamp(c[i], 0, 255);
        out.clampedColours = out.clampedColours || value != c[i];
        int16_t& component = i % 3 == 0 ? targets[i / 3]->red : i % 3 == 1 ? targets[i / 3]->green : targets[i / 3]->blue;
        component = static_cast<int16_t>(value);
    }
    return out;
}

namespace {

// Whether a line is skipped, after its error line: a field that is not a number, a field
// missing, or maps of no texels or too many.
bool skippedLine(const sceneLine& line, const std::string& path, int lineNumber)
{
    if (!line.problem.empty()) {
        say("ERROR: %s (scene file '%s' line %d), skipped!\n", line.problem.c_str(), path.c_str(), lineNumber);
        return true;
    }
    if (line.fields < sceneLineFields) {
        say("ERROR: Scene file '%s' line %d has %d of %d fields, skipped!\n", path.c_str(), lineNumber, line.fields,
            sceneLineFields);
        return true;
    }
    // An object without texture-space maps could not be lit or drawn.
    if (line.mapWidth < 1 || line.mapHeight < 1) {
        say("ERROR: Scene file '%s' line %d has map size %d x %d, skipped!\n", path.c_str(), lineNumber,
            line.mapWidth, line.mapHeight);
        return true;
    }
    if (static_cast<long long>(line.mapWidth) * line.mapHeight > maxMapTexels) {
        say("ERROR: Scene file '%s' line %d has map size %d x %d, over %lld texels, skipped!\n", path.c_str(),
            lineNumber, line.mapWidth, line.mapHeight, maxMapTexels);
        return true;
    }
    return false;
}

// The object of a complete line: its mesh, coefficients and image maps, with the report of
// its material; none after the error lines when its mesh cannot be loaded.
std::unique_ptr<object> makeObject(const sceneLine& line, const sceneColours& colours, const std::string& path,
                                   int lineNumber, loadProblems& problems)
{
    const std::string folder = folderOf(path);
    say("*******************************************************\n");
    std::unique_ptr<object> obj = loadObject(besideScene(line.objPath, folder), line.mapWidth, line.mapHeight);
    if (!obj) {
        say("ERROR: Scene file '%s' line %d: OBJ file '%s' could not be loaded, skipped!\n", path.c_str(),
            lineNumber, line.objPath.c_str());
        return nullptr;
    }
    problems.facesOutOfRange += obj->facesOutOfRange;
    problems.objectsWithoutTriangles += obj->polygonCount == 0;
    obj->bumpCoefficient = line.bumpCoefficient;
    obj->specularCoefficient = line.specularCoefficient;

    say("MATERIAL PROPERTIES:\n");
    say("AMBIENT: %3d, %3d, %3d | DIFFUSE: %3d, %3d, %3d | SPECULAR %3d, %3d, %3d\n\n", colours.ambient.red,
        colours.ambient.green, colours.ambient.blue, colours.diffuse.red, colours.diffuse.green,
        colours.diffuse.blue, colours.specular.red, colours.specular.green, colours.specular.blue);
    say("TEXTURES:\n");
    say("COLOUR TEXTURE: %s | BUMP MAP TEXTURE: %s\n\n", line.colourPath.c_str(), line.bumpPath.c_str());
    say("COEFFICIENTS:\n");
    say("SPECULAR COEFFICIENT: %2.6f | BUMP COEFFICIENT: %2.6f\n\n", static_cast<double>(line.specularCoefficient),
        static_cast<double>(line.bumpCoefficient));

    if (line.bumpPath != "NULL") {
        const std::string bumpPath = besideScene(line.bumpPath, folder);
        sayText("Setting bumpmap '" + bumpPath + "'!\n");
        obj->setBumpMap(readImage(bumpPath));
        problems.bumpMapsNotRead += !obj->bumpMap;
    }
    if (line.colourPath != "NULL") {
        const std::string colourPath = besideScene(line.colourPath, folder);
        sayText("Setting colour map '" + colourPath + "'!\n");
        obj->setColourMap(readImage(colourPath));
        problems.coloursNotRead += !obj->colourMap;
    }
    return obj;
}

} // namespace

int loadScene(const std::string& path, Scene& s, preparation how)
{
    std::string text;
    return readSceneFile(path, text) ? loadSceneText(path, text, s, how) : 0;
}

int loadSceneText(const std::string& path, const std::string& text, Scene& s, preparation how)
{
    sceneColours colours;
    std::vector<std::unique_ptr<object>> made;
    const bool tracing = s.tracing.any();
    preparationSettings deferred = settingsFor(s);
    deferred.deferLighting = true;
    const std::vector<std::string> lines = splitSceneLines(text);
    int objectLines = 0;
    bool clampReported = false;
    loadProblems problems;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i) + 1;
        const sceneLine line = parseSceneLine(lines[i], colours);
        if (line.fields == 0)
            continue;
        ++objectLines;
        if (line.clampedColours && !clampReported) {
            say("WARNING: Scene file '%s' line %d has colour values outside 0 to 255, clamped (and any "
                "more in this file)!\n", path.c_str(), lineNumber);
            clampReported = true;
        }
        if (skippedLine(line, path, lineNumber))
            continue;
        std::unique_ptr<object> obj = makeObject(line, colours, path, lineNumber, problems);
        if (!obj)
            continue;
        // Without rays an object's light is its own: one that is not wanted needs no preparation.
        const bool wanted = s.tracing.wanted(static_cast<int>(made.size()));
        if (tracing)
            prepareObjectData(obj.get(), colours.ambient, colours.diffuse, colours.specular, deferred);
        else if (wanted && how == preparation::drawable)
            prepareObject(obj.get(), colours.ambient, colours.diffuse, colours.specular, settingsFor(s));
        else if (wanted)
            prepareObjectData(obj.get(), colours.ambient, colours.diffuse, colours.specular, settingsFor(s));
        made.push_back(std::move(obj));
    }
    if (tracing) {
        // Every object's triangles can cast shadows and pass on light only once all are made.
        std::vector<object*> all;
        for (const std::unique_ptr<object>& obj : made)
            all.push_back(obj.get());
        s.traced = lightTracedObjects(all.data(), static_cast<int>(all.size()), settingsFor(s), s.tracing);
        if (how == preparation::drawable)
            for (object* obj : all)
                uploadObject(obj);
    }

    if (objectLines == 0)
        say("ERROR: Scene file '%s' has no object lines!\n", path.c_str());

    s.objectLines = objectLines;
    s.problems = problems;
    s.owned = std::move(made);
    s.objects.clear();
    for (const std::unique_ptr<object>& obj : s.owned)
        s.objects.push_back(obj.get());
    s.objectCount = static_cast<int>(s.objects.size());
    return s.objectCount;
}

std::string sceneArgument(int argc, char** argv, const std::string& fallback)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-display" || word == "-geometry")
            ++i;
        else if (!word.empty() && word[0] != '-')
            return word;
    }
    return fallback;
}

void orbitViewAndLight(Scene& s)
{
    const double theta = s.cameraAzimuth;
    const double phi = s.cameraElevation;
    // Distance 1 rather than the viewing distance: only the direction matters to preparation,
    // and the first frame places the eye properly.
    s.eye.set(s.centre.x - std::cos(phi) * std::cos(theta), s.centre.y + std::sin(phi),
              s.centre.z - std::cos(phi) * std::sin(theta));
    placeLight(s, s.defaultLight, vector(0, 5.721, 0));
}

void fixedViewAndLight(Scene& s, light& l)
{
    s.eye.set(0, 0, -10);
    placeLight(s, l, vector(0, 0, -2));
}

void setUpScene(const std::string& path, Scene& s, const sceneChoices& placeViewAndLights, const std::string* text)
{
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, s.lightModelAmbient);
    if (placeViewAndLights)
        placeViewAndLights(s);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_NORMALIZE);
    glEnable(GL_AUTO_NORMAL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    s.objectCount = text ? loadSceneText(path, *text, s) : loadScene(path, s);
    glClearColor(0, 0, 0, 1);
}

bool openSceneWindow(int* argc, char** argv, const std::string& path, const sceneChoices& placeViewAndLights)
{
    std::string text;
    if (!readSceneFile(path, text))
        return false;
    startViewer(argc, argv);
    openViewerWindow(path);
    setUpScene(path, scene, placeViewAndLights, &text);
    return scene.objectCount > 0;
}
