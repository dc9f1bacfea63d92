#include "viewer/scenefile.h"

#include "core/bitmap.h"
#include "core/console.h"
#include "core/image.h"
#include "lights/light.h"
#include "mesh/object.h"
#include "pipeline/prepare.h"

#include <GL/gl.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes over a string that sscanf's %ms allocated.
std::string adopt(char* s)
{
    if (!s)
        return std::string();
    std::string out(s);
    std::free(s);
    return out;
}

// Scene files are a few lines; anything this large is a mistake, refused before reading.
constexpr long long maxSceneBytes = 64LL << 20;

// Why a path cannot be read as a scene file, or empty when it is a regular file.
const char* notARegularFile(mode_t mode)
{
    if (S_ISREG(mode))
        return "";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// The whole file; false after one error line when it is missing, not a regular file, too
// large or unreadable. Opened without blocking, so a FIFO cannot stall the program.
bool readSceneFile(const std::string& path, std::string& text)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            say("ERROR: Scene file '%s' does not exist!\n", path.c_str());
        else
            say("ERROR: Scene file '%s' could not be opened: %s!\n", path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    const char* kind = ok ? notARegularFile(info.st_mode) : "unreadable";
    if (*kind) {
        say("ERROR: Scene file '%s' is %s, not a scene file!\n", path.c_str(), kind);
        ::close(fd);
        return false;
    }
    if (info.st_size > maxSceneBytes) {
        say("ERROR: Scene file '%s' is %lld bytes, over the limit of %lld!\n", path.c_str(),
            static_cast<long long>(info.st_size), maxSceneBytes);
        ::close(fd);
        return false;
    }
    char chunk[1 << 16];
    ssize_t n;
    // A file that grows while it is read is still cut off at the limit.
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 && static_cast<long long>(text.size()) <= maxSceneBytes)
        text.append(chunk, static_cast<size_t>(n));
    ok = n == 0 && static_cast<long long>(text.size()) <= maxSceneBytes;
    ::close(fd);
    if (!ok)
        say("ERROR: Scene file '%s' could not be read whole!\n", path.c_str());
    return ok;
}

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

sceneLine parseSceneLine(const std::string& line, sceneColours& colours)
{
    sceneLine out;
    // sscanf leaves every target after the first mismatch alone, so the colour components
    // start from the working colours and only those read change.
    int c[9] = {colours.ambient.red,  colours.ambient.green,  colours.ambient.blue,
                colours.diffuse.red,  colours.diffuse.green,  colours.diffuse.blue,
                colours.specular.red, colours.specular.green, colours.specular.blue};
    char* objPath = nullptr;
    char* bumpPath = nullptr;
    char* colourPath = nullptr;
    // %ms sizes each word to fit, so paths of any length are read whole.
    int n = std::sscanf(line.c_str(), "%ms %d %d %d %d %d %d %d %d %d %f %ms %f %d %d %ms",
                        &objPath, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7], &c[8],
                        &out.specularCoefficient, &bumpPath, &out.bumpCoefficient,
                        &out.mapWidth, &out.mapHeight, &colourPath);
    out.fields = n < 0 ? 0 : n;
    out.objPath = adopt(objPath);
    out.bumpPath = adopt(bumpPath);
    out.colourPath = adopt(colourPath);

    colour* targets[3] = {&colours.ambient, &colours.diffuse, &colours.specular};
    for (int i = 0; i < 3; ++i) {
        targets[i]->red = static_cast<int16_t>(c[3 * i]);
        targets[i]->green = static_cast<int16_t>(c[3 * i + 1]);
        targets[i]->blue = static_cast<int16_t>(c[3 * i + 2]);
    }
    return out;
}

int loadScene(const std::string& path, Scene& s, preparation how)
{
    std::string text;
    if (!readSceneFile(path, text))
        return 0;

    sceneColours colours;
    std::vector<std::unique_ptr<object>> made;
    const bool tracing = s.tracing.any();
    preparationSettings deferred = settingsFor(s);
    deferred.deferLighting = true;
    const std::vector<std::string> lines = splitSceneLines(text);
    int objectLines = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i) + 1;
        const sceneLine line = parseSceneLine(lines[i], colours);
        if (line.fields == 0)
            continue;
        ++objectLines;
        if (line.fields < sceneLineFields) {
            say("ERROR: Scene file '%s' line %d has %d of %d fields, skipped!\n", path.c_str(),
                lineNumber, line.fields, sceneLineFields);
            continue;
        }
        // An object without texture-space maps could not be lit or drawn.
        if (line.mapWidth < 1 || line.mapHeight < 1) {
            say("ERROR: Scene file '%s' line %d has map size %d x %d, skipped!\n", path.c_str(),
                lineNumber, line.mapWidth, line.mapHeight);
            continue;
        }
        if (static_cast<long long>(line.mapWidth) * line.mapHeight > maxMapTexels) {
            say("ERROR: Scene file '%s' line %d has map size %d x %d, over %lld texels, skipped!\n",
                path.c_str(), lineNumber, line.mapWidth, line.mapHeight, maxMapTexels);
            continue;
        }

        say("*******************************************************\n");
        std::unique_ptr<object> obj = loadObject(line.objPath, line.mapWidth, line.mapHeight);
        if (!obj) {
            say("ERROR: Scene file '%s' line %d: OBJ file '%s' could not be loaded, skipped!\n",
                path.c_str(), lineNumber, line.objPath.c_str());
            continue;
        }
        obj->bumpCoefficient = line.bumpCoefficient;
        obj->specularCoefficient = line.specularCoefficient;

        say("MATERIAL PROPERTIES:\n");
        say("AMBIENT: %3d, %3d, %3d | DIFFUSE: %3d, %3d, %3d | SPECULAR %3d, %3d, %3d\n\n",
            colours.ambient.red, colours.ambient.green, colours.ambient.blue,
            colours.diffuse.red, colours.diffuse.green, colours.diffuse.blue,
            colours.specular.red, colours.specular.green, colours.specular.blue);
        say("TEXTURES:\n");
        say("COLOUR TEXTURE: %s | BUMP MAP TEXTURE: %s\n\n", line.colourPath.c_str(),
            line.bumpPath.c_str());
        say("COEFFICIENTS:\n");
        say("SPECULAR COEFFICIENT: %2.6f | BUMP COEFFICIENT: %2.6f\n\n",
            static_cast<double>(line.specularCoefficient),
            static_cast<double>(line.bumpCoefficient));

        if (line.bumpPath != "NULL") {
            sayText("Setting bumpmap '" + line.bumpPath + "'!\n");
            obj->setBumpMap(readImage(line.bumpPath));
        }
        if (line.colourPath != "NULL") {
            sayText("Setting colour map '" + line.colourPath + "'!\n");
            obj->setColourMap(readImage(line.colourPath));
        }

        if (tracing)
            prepareObjectData(obj.get(), colours.ambient, colours.diffuse, colours.specular, deferred);
        else if (how == preparation::drawable)
            prepareObject(obj.get(), colours.ambient, colours.diffuse, colours.specular, settingsFor(s));
        else
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
    s.owned = std::move(made);
    s.objects.clear();
    for (const std::unique_ptr<object>& obj : s.owned)
        s.objects.push_back(obj.get());
    s.objectCount = static_cast<int>(s.objects.size());
    return s.objectCount;
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

void setUpScene(const std::string& path, Scene& s, const sceneChoices& placeViewAndLights)
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
    s.objectCount = loadScene(path, s);
    glClearColor(0, 0, 0, 1);
}
