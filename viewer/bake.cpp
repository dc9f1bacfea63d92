#include "viewer/bake.h"

#include "core/console.h"
#include "core/image.h"
#include "core/workers.h"
#include "lights/sunlight.h"
#include "mesh/object.h"
#include "mesh/objwriter.h"
#include "pipeline/gltfexport.h"
#include "texlight/mapexport.h"
#include "viewer/capture.h"
#include "viewer/programs.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#define TRACE_OPTIONS_TEXT \
    "  --sun DX,DY,DZ[,R,G,B]  a directional light shining along -D, colour as --light;\n" \
    "                          repeatable; with any --light, replaces the program's lights\n" \
    "  --shadows               a light reaches a texel only when no triangle of the scene\n" \
    "                          lies between them\n" \
    "  --light-radius R        point and spot lights become spheres of radius R: soft shadows\n" \
    "                          (--shadows implied)\n" \
    "  --ao[=DISTANCE]         ambient occlusion within DISTANCE (default: a tenth of the\n" \
    "                          scene's diagonal) darkens the ambient term\n" \
    "  --bounces N             N bounces of diffuse light between the surfaces (default 0)\n" \
    "  --samples S             rays per texel for soft shadows, occlusion and each bounce\n" \
    "                          (default 64)\n"

#define LIGHT_OPTION_TEXT \
    "  --light X,Y,Z[,R,G,B[,RANGE]]\n" \
    "                          a point light of your own, colour 0-255 (default 200,200,200),\n" \
    "                          range unlimited unless given; repeatable; replaces the program's\n"

const char* const traceOptionsUsage = TRACE_OPTIONS_TEXT;
const char* const lightOptionUsage = LIGHT_OPTION_TEXT;

const char* const bakeUsage =
    "Usage: bake [options] SCENE_FILE OUTPUT_FOLDER\n"
    "Bakes the lighting of every object of a scene file into its lightmap, as the viewers do at\n"
    "start-up but without a window, and writes for object NN into OUTPUT_FOLDER (made if\n"
    "missing): finalNN.bmp and finalNN.png, the lightmap, its texels spread 8 texels past its\n"
    "charts so that filtering shows no seams; meshNN.obj and meshNN.mtl, the mesh with the\n"
    "texture coordinates of its lightmap and a material that names the PNG; with --ao also\n"
    "aoNN.png, the ambient occlusion as grey levels (255 open); with --gltf also scene.glb.\n"
    "Options:\n"
    "  --program NAME          the lights and texel tests of marlin (default), tern, heron or\n"
    "                          tern_depth\n"
    LIGHT_OPTION_TEXT
    "  --terms LIST            the terms baked, comma-separated: ambient, diffuse, specular\n"
    "                          (default: the program's, ambient,diffuse)\n"
    "  --maps                  also the six maps of the viewers' F key, under their names\n"
    "  --gltf                  also scene.glb (glTF 2.0): every object with its lightmap, unlit\n"
    "  --albedo                with --gltf: the lightmaps times the colour maps\n"
    "  --only LIST             bake only these objects, numbers and ranges as 0,3-5; the whole\n"
    "                          scene still shadows and lights them, and their files are those\n"
    "                          a full bake writes\n"
    "  --threads N             threads that light the texels and encode the files (default:\n"
    "                          one per core)\n"
    TRACE_OPTIONS_TEXT
    "  --help                  this text\n"
    "Exit status: 0 when every object line was baked and every file written, 1 when a line was\n"
    "skipped, a colour texture or bump map could not be read, a face named an index out of\n"
    "range, an object had no triangles or a file could not be written, 2 for bad usage. Each\n"
    "ERROR line goes to standard error as well.\n";

namespace {

// The parts of a comma-separated list, empty ones included.
std::vector<std::string> commaParts(const std::string& text)
{
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        size_t comma = text.find(',', at);
        parts.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            return parts;
        at = comma + 1;
    }
}

bool readNumbers(const std::string& text, std::vector<double>& numbers)
{
    for (const std::string& part : commaParts(text)) {
        double value = 0;
        std::from_chars_result r = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || r.ec != std::errc() || r.ptr != part.data() + part.size())
            return false;
        numbers.push_back(value);
    }
    return true;
}

// The colour of numbers 3 to 5 of a light's list: whole numbers 0-255.
bool readColour(const std::vector<double>& n, colour& col)
{
    for (int i = 3; i < 6; ++i)
        if (n[i] < 0 || n[i] > 255 || n[i] != static_cast<int>(n[i]))
            return false;
    col = colour(static_cast<int16_t>(n[3]), static_cast<int16_t>(n[4]), static_cast<int16_t>(n[5]), 255);
    return true;
}

// A light from "x,y,z[,r,g,b[,range]]"; false when the text is not one.
bool readLight(const std::string& text, bakeLight& lamp)
{
    std::vector<double> n;
    if (!readNumbers(text, n) || (n.size() != 3 && n.size() != 6 && n.size() != 7))
        return false;
    for (double v : n)
        if (!std::isfinite(v))
            return false;
    lamp.position = vector(n[0], n[1], n[2]);
    if (n.size() >= 6 && !readColour(n, lamp.col))
        return false;
    if (n.size() == 7) {
        if (!(n[6] > 0))
            return false;
        lamp.range = n[6];
    }
    return true;
}

bool readTerms(const std::string& text, lightingTerms& terms)
{
    terms = {0, 0, 0};
    for (const std::string& name : commaParts(text)) {
        if (name == "ambient")
            terms.ambient = 1;
        else if (name == "diffuse")
            terms.diffuse = 1;
        else if (name == "specular")
            terms.specular = 1;
        else
            return false;
    }
    return true;
}

// A direction from "dx,dy,dz[,r,g,b]"; false when the text is not one or the direction is zero.
bool readSun(const std::string& text, bakeSun& sun)
{
    std::vector<double> n;
    if (!readNumbers(text, n) || (n.size() != 3 && n.size() != 6))
        return false;
    for (double v : n)
        if (!std::isfinite(v))
            return false;
    if (n[0] == 0 && n[1] == 0 && n[2] == 0)
        return false;
    sun.direction = vector(n[0], n[1], n[2]);
    return n.size() == 3 || readColour(n, sun.col);
}

bool readWhole(const std::string& text, int low, int high, int& value)
{
    std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && value >= low && value <= high;
}

bool readLength(const std::string& text, bool zeroAllowed, double& value)
{
    std::vector<double> n;
    if (text.find(',') != std::string::npos || !readNumbers(text, n) || n.size() != 1 || !std::isfinite(n[0]))
        return false;
    value = n[0];
    return zeroAllowed ? value >= 0 : value > 0;
}

// Object numbers and ranges as "0,3-5" into a table of the numbers listed.
bool readObjectList(const std::string& text, std::vector<bool>& listed)
{
    constexpr int highest = 999999;
    listed.clear();
    for (const std::string& part : commaParts(text)) {
        const size_t dash = part.find('-');
        int first = 0, last = 0;
        if (!readWhole(part.substr(0, dash), 0, highest, first))
            return false;
        last = first;
        if (dash != std::string::npos && (!readWhole(part.substr(dash + 1), first, highest, last)))
            return false;
        if (listed.size() <= static_cast<size_t>(last))
            listed.resize(static_cast<size_t>(last) + 1, false);
        for (int i = first; i <= last; ++i)
            listed[static_cast<size_t>(i)] = true;
    }
    return !listed.empty();
}

std::string numbered(const char* pattern, int i)
{
    char name[64];
    std::snprintf(name, sizeof name, pattern, i);
    return name;
}

// What is written for one object, encoded away from the console so that threads may share it.
struct encodedObject {
    std::vector<uint8_t> bmp; // the lightmap, dilated as every written lightmap is
    std::vector<uint8_t> png;
    std::vector<uint8_t> gltfPng; // the image of scene.glb, when it is not png
    std::vector<uint8_t> occlusionPng; // none without traced occlusion
    std::string mesh;
};

// The traced occlusion as grey levels, 255 where a texel is open (and where none was traced).
std::vector<uint8_t> occlusionPng(const object& obj)
{
    if (!obj.traced || obj.traced->occlusion.empty() || !obj.finalBitmap)
        return {};
    const int w = obj.finalBitmap->width, h = obj.finalBitmap->height;
    bitmap grey(w, h, 3);
    if (!grey.pixels)
        return {};
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        const float open = std::clamp(obj.traced->occlusion[i], 0.0f, 1.0f);
        const auto level = static_cast<uint8_t>(std::lround(open * 255.0f));
        grey.pixels[3 * i] = grey.pixels[3 * i + 1] = grey.pixels[3 * i + 2] = level;
    }
    return encodePng(grey);
}

// The lightmap as it is written: spread past its charts, times the colour map for albedo.
std::unique_ptr<bitmap> writtenLightmap(const object& obj, bool albedo)
{
    if (!albedo)
        return dilateCharts(obj, *obj.finalBitmap);
    std::unique_ptr<bitmap> coloured = timesColourMap(obj, *obj.finalBitmap);
    return coloured ? dilateCharts(obj, *coloured) : nullptr;
}

void encodeObjects(const Scene& s, const bakeOptions& options, std::vector<encodedObject>& out, int threads)
{
    out.assign(static_cast<size_t>(s.objectCount), {});
    auto work = [&](int first) {
        for (int i = first; i < s.objectCount; i += threads) {
            if (!s.tracing.wanted(i))
                continue;
            const object& obj = *s.objects[static_cast<size_t>(i)];
            encodedObject& e = out[static_cast<size_t>(i)];
            if (std::unique_ptr<bitmap> lightmap = writtenLightmap(obj, false)) {
                e.bmp = encodeBmp(*lightmap);
                e.png = encodePng(*lightmap);
            }
            // Without a colour map the albedo map would be the lightmap's own bytes.
            if (options.gltf && options.albedo && obj.colourMap && obj.colourMap->pixels)
                if (std::unique_ptr<bitmap> coloured = writtenLightmap(obj, true))
                    e.gltfPng = encodePng(*coloured);
            e.occlusionPng = occlusionPng(obj);
            e.mesh = encodeObj(obj, numbered("mesh%02d.mtl", i), "lightmap");
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool)
        t.join();
}

// scene.glb of every object, with the images encoded for it.
bool writeGltf(const Scene& s, const std::vector<encodedObject>& encoded, const std::string& path)
{
    std::vector<gltfEntry> entries;
    for (int i = 0; i < s.objectCount; ++i) {
        const encodedObject& e = encoded[static_cast<size_t>(i)];
        gltfEntry entry;
        entry.obj = s.objects[static_cast<size_t>(i)];
        entry.number = i;
        entry.png = e.gltfPng.empty() ? &e.png : &e.gltfPng;
        entries.push_back(entry);
    }
    std::string problem;
    std::vector<uint8_t> bytes;
    try {
        bytes = encodeGlb(entries, problem);
    } catch (const std::bad_alloc&) {
        problem = "memory ran out";
    }
    if (bytes.empty()) {
        say("ERROR: glTF file '%s' could not be made: %s!\n", path.c_str(), problem.c_str());
        return false;
    }
    return writeWholeFile(path, bytes, "glTF file");
}

bool writeText(const std::string& path, const std::string& text)
{
    return writeWholeFile(path, text.data(), text.size());
}

// The last line: what was baked, skipped and traced, and what the objects lost, only when any.
void saySummary(const Scene& s, int baked, double seconds)
{
    const int skipped = s.objectLines - s.objectCount;
    if (s.tracing.only.empty())
        say("Baked %d object%s, skipped %d, in %.2f s", baked, baked == 1 ? "" : "s", skipped, seconds);
    else
        say("Baked %d of %d object%s, skipped %d, in %.2f s", baked, s.objectCount, s.objectCount == 1 ? "" : "s",
            skipped, seconds);
    if (s.traced.traced) {
        const double traceSeconds = s.traced.traceSeconds();
        say(", %lld rays traced at %.1f M rays/s", s.traced.rays(),
            traceSeconds > 0 ? s.traced.rays() / traceSeconds / 1e6 : 0.0);
    }
    // What was baked without something its lines asked for, only when there is any.
    const loadProblems& problems = s.problems;
    const struct {
        int count;
        const char* one;
        const char* many;
    } counted[] = {
        {problems.coloursNotRead, "colour texture not read", "colour textures not read"},
        {problems.bumpMapsNotRead, "bump map not read", "bump maps not read"},
        {problems.facesOutOfRange, "face with an index out of range", "faces with indices out of range"},
        {problems.objectsWithoutTriangles, "object without triangles", "objects without triangles"},
    };
    const char* separator = "; ";
    for (const auto& c : counted)
        if (c.count > 0) {
            say("%s%d %s", separator, c.count, c.count == 1 ? c.one : c.many);
            separator = ", ";
        }
    say("\n");
}

// The files of object i: lightmap as BMP and PNG, occlusion when traced, mesh and material;
// how many could not be written.
int writeObjectFiles(const encodedObject& e, int i, bool occlusion, const std::string& folder)
{
    int failed = 0;
    auto write = [&](const std::vector<uint8_t>& bytes, const char* pattern, const char* what, const char* kind) {
        if (bytes.empty()) {
            say("ERROR: %s %d could not be encoded as %s!\n", what, i, kind);
            ++failed;
        } else {
            failed += !writeWholeFile(folder + numbered(pattern, i), bytes, (std::string(kind) + " file").c_str());
        }
    };
    write(e.bmp, "final%02d.bmp", "Lightmap", "BMP");
    write(e.png, "final%02d.png", "Lightmap", "PNG");
    if (occlusion)
        write(e.occlusionPng, "ao%02d.png", "Occlusion map", "PNG");
    failed += !writeText(folder + numbered("mesh%02d.obj", i), e.mesh);
    failed += !writeText(folder + numbered("mesh%02d.mtl", i),
                         "newmtl lightmap\nKa 1 1 1\nKd 1 1 1\nmap_Kd " + numbered("final%02d.png", i) + "\n");
    return failed;
}

// Moves i on to the word after option i, or says that there is none.
bool nextValue(const std::vector<std::string>& args, size_t& i, std::string& into, std::string& problem)
{
    if (i + 1 >= args.size()) {
        problem = "option " + args[i] + " needs a value";
        return false;
    }
    into = args[++i];
    return true;
}

} // namespace

bool readTraceOption(const std::vector<std::string>& args, size_t& i, traceOptions& options, bool& matched,
                     std::string& problem)
{
    const std::string& a = args[i];
    matched = true;
    auto value = [&](std::string& into) { return nextValue(args, i, into, problem); };
    // The next word as read takes it; otherwise the problem says it is not what form says.
    std::string v;
    auto valueAs = [&](const std::string& what, const std::string& form, auto read) {
        if (!value(v))
            return false;
        if (read(v))
            return true;
        problem = what + " '" + v + "' is not " + form;
        return false;
    };
    traceSettings& t = options.trace;
    if (a == "--shadows") {
        t.shadows = true;
    } else if (a == "--ao" || a.compare(0, 5, "--ao=") == 0) {
        t.ambientOcclusion = true;
        if (a.size() > 4 && !readLength(a.substr(5), false, t.occlusionDistance)) {
            problem = "occlusion distance '" + a.substr(5) + "' is not a number above 0";
            return false;
        }
    } else if (a == "--light-radius") {
        if (!valueAs("light radius", "a number of 0 or more",
                     [&](const std::string& w) { return readLength(w, true, t.lightRadius); }))
            return false;
        // Soft shadows are shadows.
        t.shadows = t.shadows || t.lightRadius > 0;
    } else if (a == "--bounces" || a == "--samples") {
        const bool bounces = a == "--bounces";
        const int low = bounces ? 0 : 1, high = bounces ? 16 : 65536;
        if (!valueAs(a.substr(2), "a number from " + std::to_string(low) + " to " + std::to_string(high),
                     [&](const std::string& w) { return readWhole(w, low, high, bounces ? t.bounces : t.samples); }))
            return false;
    } else if (a == "--light") {
        bakeLight lamp;
        if (!valueAs("light", "X,Y,Z[,R,G,B[,RANGE]]", [&](const std::string& w) { return readLight(w, lamp); }))
            return false;
        options.lights.push_back(lamp);
    } else if (a == "--sun") {
        bakeSun sun;
        if (!valueAs("sun", "DX,DY,DZ[,R,G,B] with a direction other than 0,0,0",
                     [&](const std::string& w) { return readSun(w, sun); }))
            return false;
        options.suns.push_back(sun);
    } else {
        matched = false;
    }
    return true;
}

light* makeOwnLights(const std::vector<bakeLight>& points, const std::vector<bakeSun>& suns,
                     std::vector<std::unique_ptr<light>>& owned)
{
    owned.clear();
    for (const bakeLight& own : points) {
        auto lamp = std::make_unique<pointlight>();
        lamp->setPosition(own.position);
        lamp->setColour(own.col);
        if (own.range != -1.0)
            lamp->setRange(own.range);
        owned.push_back(std::move(lamp));
    }
    for (const bakeSun& own : suns) {
        auto sun = std::make_unique<sunlight>();
        sun->setDirection(own.direction);
        sun->setColour(own.col);
        owned.push_back(std::move(sun));
    }
    for (size_t i = 0; i + 1 < owned.size(); ++i)
        owned[i]->next = owned[i + 1].get();
    return owned.empty() ? nullptr : owned.front().get();
}

bool parseBakeArguments(const std::vector<std::string>& args, bakeOptions& options, std::string& problem)
{
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return nextValue(args, i, into, problem); };
        std::string v;
        bool traceOption = false;
        if (!readTraceOption(args, i, options.traced, traceOption, problem)) {
            options.showUsage = false;
            return false;
        }
        if (traceOption)
            continue;
        if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--maps") {
            options.maps = true;
        } else if (a == "--gltf") {
            options.gltf = true;
        } else if (a == "--albedo") {
            options.albedo = true;
        } else if (a == "--only") {
            if (!value(v))
                return false;
            if (!readObjectList(v, options.traced.trace.only)) {
                problem = "object list '" + v + "' is not numbers and ranges as 0,3-5";
                options.showUsage = false;
                return false;
            }
        } else if (a == "--program") {
            if (!value(options.program))
                return false;
            if (options.program != "marlin" && options.program != "tern" && options.program != "heron" &&
                options.program != "tern_depth") {
                problem = "unknown program '" + options.program + "'";
                return false;
            }
        } else if (a == "--terms") {
            if (!value(v))
                return false;
            if (!readTerms(v, options.terms)) {
                problem = "terms '" + v + "' are not a list of ambient, diffuse and specular";
                return false;
            }
            options.termsGiven = true;
        } else if (a == "--threads") {
            if (!value(v))
                return false;
            int n = 0;
            std::from_chars_result r = std::from_chars(v.data(), v.data() + v.size(), n);
            if (r.ec != std::errc() || r.ptr != v.data() + v.size() || n < 1 || n > 256) {
                problem = "threads '" + v + "' is not a number from 1 to 256";
                return false;
            }
            options.threads = n;
        } else if (a.size() > 1 && a[0] == '-') {
            problem = "unknown option '" + a + "'";
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (options.help)
        return true;
    if (positional.size() != 2) {
        problem = positional.size() < 2 ? "a scene file and an output folder are needed" : "too many arguments";
        return false;
    }
    if (options.albedo && !options.gltf) {
        problem = "--albedo is for scene.glb: give --gltf with it";
        return false;
    }
    // scene.glb holds every object; a part of the scene would overwrite another's.
    if (options.gltf && !options.traced.trace.only.empty()) {
        problem = "--gltf writes the whole scene and cannot be combined with --only";
        return false;
    }
    options.sceneFile = positional[0];
    options.outputFolder = positional[1];
    return true;
}

int runBake(const bakeOptions& options)
{
    const auto start = std::chrono::steady_clock::now();
    static viewerLights programLights; // linked into the scene for the whole run
    static std::vector<std::unique_ptr<light>> ownLights;
    chooseProgram(options.program, scene, programLights);
    if (light* own = makeOwnLights(options.traced.lights, options.traced.suns, ownLights))
        scene.lights = own;
    scene.tracing = options.traced.trace;
    if (options.termsGiven) {
        scene.prepareAmbient = options.terms.ambient;
        scene.prepareDiffuse = options.terms.diffuse;
        scene.prepareSpecular = options.terms.specular;
    }

    std::error_code error;
    std::filesystem::create_directories(options.outputFolder, error);
    if (error || !std::filesystem::is_directory(options.outputFolder, error)) {
        say("ERROR: Output folder '%s' could not be made!\n", options.outputFolder.c_str());
        return 1;
    }

    // The relighting shares its rows among the library's threads; the bytes are the same for
    // any number.
    if (options.threads > 0)
        setSharedWorkerThreads(options.threads);
    loadScene(options.sceneFile, scene, preparation::dataOnly);

    const int threads = options.threads > 0 ? options.threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::vector<encodedObject> encoded;
    encodeObjects(scene, options, encoded, std::min(threads, std::max(1, scene.objectCount)));

    const std::string folder = options.outputFolder + "/";
    int failed = 0, baked = 0;
    const std::vector<bool>& only = scene.tracing.only;
    for (int i = 0; i < scene.objectCount; ++i) {
        if (!scene.tracing.wanted(i))
            continue;
        ++baked;
        say("Writing object %d of %d\r", i + 1, scene.objectCount);
        failed += writeObjectFiles(encoded[static_cast<size_t>(i)], i, options.traced.trace.ambientOcclusion, folder);
    }
    if (baked > 0)
        say("\n");
    // A list may run past the scene's end, as the last of equal ranges does, but not miss it.
    const bool missed = !only.empty() && baked == 0 && scene.objectCount > 0;
    if (missed)
        say("ERROR: --only lists none of the scene's %d object%s!\n", scene.objectCount,
            scene.objectCount == 1 ? "" : "s");
    if (options.maps)
        failed += exportMaps(scene, options.outputFolder);
    if (options.gltf)
        failed += !writeGltf(scene, encoded, folder + "scene.glb");

    // Lightmaps without the light that was asked for are no success.
    const bool untraced = scene.tracing.any() && scene.objectCount > 0 && !scene.traced.traced;
    const int skipped = scene.objectLines - scene.objectCount;
    saySummary(scene, baked, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (failed > 0)
        say("ERROR: %d file%s could not be written!\n", failed, failed == 1 ? "" : "s");
    return scene.objectLines > 0 && skipped == 0 && failed == 0 && !untraced && !missed && !scene.problems.any() ? 0 : 1;
}
