// Writes a large test scene: a torus of about the given number of triangles, as quads with
// positions only (no normals, no texture coordinates), floating over a floor of one quad,
// under marlin's light. For measuring start-up and frame times on big meshes.
//
// Usage: meshgen TRIANGLES FOLDER     writes FOLDER/torus.obj, floor.obj and torus.txt

#include "core/console.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const double pi = 3.14159265358979323846;

bool writeTorus(const std::string& path, long long triangles)
{
    // Twice as many segments around the ring as around the tube keeps the quads near square.
    const int tube = std::max(3, static_cast<int>(std::sqrt(triangles / 4.0)));
    const int around = std::max(3, static_cast<int>(triangles / (2LL * tube)));
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    const double big = 2.0, small = 0.7;
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            double a = 2 * pi * i / around, b = 2 * pi * j / tube;
            std::fprintf(f, "v %.7f %.7f %.7f\n", (big + small * std::cos(b)) * std::cos(a),
                         small * std::sin(b) + 1.0, -(big + small * std::cos(b)) * std::sin(a));
        }
    auto at = [&](int i, int j) { return static_cast<long long>(i % around) * tube + j % tube + 1; };
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j)
            std::fprintf(f, "f %lld %lld %lld %lld\n", at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
    bool ok = !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    say("%s: %lld triangles\n", path.c_str(), 2LL * around * tube);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const long long triangles = argc == 3 ? std::atoll(argv[1]) : 0;
    if (triangles < 18) {
        say("Usage: meshgen TRIANGLES FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    bool ok = !error && writeTorus((folder / "torus.obj").string(), triangles);
    if (std::FILE* f = std::fopen((folder / "floor.obj").string().c_str(), "w")) {
        std::fputs("v -4 -1 -4\nv -4 -1 4\nv 4 -1 4\nv 4 -1 -4\nf 1 2 3 4\n", f);
        ok = std::fclose(f) == 0 && ok;
    } else {
        ok = false;
    }
    if (std::FILE* f = std::fopen((folder / "torus.txt").string().c_str(), "w")) {
        std::fputs("floor.obj 50 50 50 200 200 200 255 255 255 20.0 NULL 1.0 256 256 NULL\n"
                   "torus.obj 50 50 50 200 120 80 255 255 255 20.0 NULL 1.0 1024 1024 NULL\n",
                   f);
        ok = std::fclose(f) == 0 && ok;
    } else {
        ok = false;
    }
    if (!ok)
        say("ERROR: Could not write the scene in '%s'!\n", folder.string().c_str());
    return ok ? 0 : 1;
}
