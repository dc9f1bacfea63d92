// Load throughput of the OBJ reader on a large generated mesh.
//
//   objload_bench [file.obj [runs]]
//
// Without a file, a mesh of about 100 MB (positions, texture coordinates, normals and
// v/vt/vn triangles) is written to the temporary folder and removed afterwards; a named
// file that does not exist yet is generated there and kept.

#include "core/console.h"
#include "mesh/object.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

const double targetBytes = 100.0 * 1000 * 1000;

// A wavy grid of side n: every vertex has its own texture coordinate and normal, every
// quad two triangles, the way exporters write smooth meshes.
bool writeGrid(const std::string& path, int n)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::fprintf(out, "# generated grid %d x %d\n", n, n);
    const double pi = 3.14159265358979323846;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double x = 4.0 * i / (n - 1) - 2.0;
            double z = 4.0 * j / (n - 1) - 2.0;
            double y = 0.5 * std::sin(pi * x) * std::cos(pi * z);
            std::fprintf(out, "v %.6f %.6f %.6f\n", x, y, z);
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            std::fprintf(out, "vt %.6f %.6f\n", double(i) / (n - 1), double(j) / (n - 1));
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double x = 4.0 * i / (n - 1) - 2.0;
            double z = 4.0 * j / (n - 1) - 2.0;
            double dx = 0.5 * pi * std::cos(pi * x) * std::cos(pi * z);
            double dz = -0.5 * pi * std::sin(pi * x) * std::sin(pi * z);
            double len = std::sqrt(dx * dx + 1.0 + dz * dz);
            std::fprintf(out, "vn %.6f %.6f %.6f\n", -dx / len, 1.0 / len, -dz / len);
        }
    std::fprintf(out, "g surface\ns 1\n");
    for (int j = 0; j + 1 < n; ++j)
        for (int i = 0; i + 1 < n; ++i) {
            int a = j * n + i + 1;
            int b = a + 1;
            int c = a + n;
            int d = c + 1;
            std::fprintf(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, b, b, b);
            std::fprintf(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", b, b, b, c, c, c, d, d, d);
        }
    bool ok = !std::ferror(out);
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string path;
    bool generated = false;
    if (argc > 1) {
        path = argv[1];
    }
    if (path.empty() || !fs::exists(path)) {
        // A named file is kept for later runs; the default one is removed at the end.
        generated = path.empty();
        if (path.empty())
            path = (fs::temp_directory_path() / "objload_bench.obj").string();
        // About 216 bytes of text per grid vertex.
        int n = static_cast<int>(std::sqrt(targetBytes / 216.0));
        say("Writing %s (%d x %d grid)...\n", path.c_str(), n, n);
        if (!writeGrid(path, n)) {
            say("ERROR: could not write %s\n", path.c_str());
            return 1;
        }
    }
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    std::error_code ec;
    double megabytes = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    std::vector<double> rates;
    int polygons = -1;
    for (int r = 0; r < runs; ++r) {
        std::unique_ptr<object> obj;
        auto start = std::chrono::steady_clock::now();
        {
            consoleCapture quiet;
            obj = loadObject(path, 0, 0);
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!obj) {
            say("ERROR: %s did not load\n", path.c_str());
            return 1;
        }
        polygons = obj->polygonCount;
        rates.push_back(megabytes / seconds);
        say("run %d: %.3f s, %.1f MB/s\n", r + 1, seconds, megabytes / seconds);
    }
    std::sort(rates.begin(), rates.end());
    say("file: %.1f MB, %d polygons\n", megabytes, polygons);
    say("best: %.1f MB/s, median: %.1f MB/s (%d runs)\n", rates.back(), rates[rates.size() / 2], runs);

    if (generated)
        fs::remove(path, ec);
    return 0;
}
