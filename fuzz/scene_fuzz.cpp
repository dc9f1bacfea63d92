#include "fuzz/targets.h"

#include "viewer/scenefile.h"

#include <cstring>

namespace {

bool isWord(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c == ' ' || (c >= '\t' && c <= '\r') || c == '\0')
            return false;
    return true;
}

} // namespace

// The part of scene loading that needs no OpenGL: the file's lines and their fields.
std::string sceneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = splitSceneLines(text);

    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find('\n') != std::string::npos)
            return "a line holds a line break";
        joined += lines[i];
        if (i + 1 < lines.size() || (!text.empty() && text.back() == '\n'))
            joined += '\n';
    }
    if (joined != text)
        return "the lines do not make up the text";

    sceneColours colours;
    for (const std::string& line : lines) {
        sceneColours before = colours;
        sceneLine parsed = parseSceneLine(line, colours);
        if (parsed.fields < 0 || parsed.fields > sceneLineFields)
            return "read " + std::to_string(parsed.fields) + " fields";
        if ((parsed.fields >= 1) != isWord(parsed.objPath) ||
            (parsed.fields >= 12) != isWord(parsed.bumpPath) ||
            (parsed.fields >= 16) != isWord(parsed.colourPath))
            return "a path disagrees with the fields read";
        if (parsed.fields < 14 && (parsed.mapWidth != 0 || parsed.mapHeight != 0))
            return "a map size was set without being read";
        // Components beyond the fields read keep their earlier values.
        const int16_t* was[9] = {&before.ambient.red,  &before.ambient.green,  &before.ambient.blue,
                                 &before.diffuse.red,  &before.diffuse.green,  &before.diffuse.blue,
                                 &before.specular.red, &before.specular.green, &before.specular.blue};
        const int16_t* now[9] = {&colours.ambient.red,  &colours.ambient.green,  &colours.ambient.blue,
                                 &colours.diffuse.red,  &colours.diffuse.green,  &colours.diffuse.blue,
                                 &colours.specular.red, &colours.specular.green, &colours.specular.blue};
        for (int k = 0; k < 9; ++k)
            if (k + 1 >= parsed.fields && *was[k] != *now[k])
                return "a colour component changed without being read";
        if (colours.ambient.alpha != 255 || colours.diffuse.alpha != 255 ||
            colours.specular.alpha != 255)
            return "a colour lost its alpha";
    }
    return "";
}

RENDER_FUZZ_TARGET(sceneInput)
