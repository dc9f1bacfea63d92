#pragma once

#include "mesh/polygon.h"

#include <cmath>
#include <vector>

// A wavy n x n grid surface, two counter-clockwise triangles per quad, with normals and with
// texture coordinates that form a shared-vertex grid over 0-1 without overlap.
inline std::vector<polygon> gridSurface(int n)
{
    const double pi = 3.14159265358979323846;
    auto position = [&](int i, int j) {
        double x = 4.0 * i / n - 2.0, z = 4.0 * j / n - 2.0;
        return vector(x, 0.5 * std::sin(pi * x) * std::cos(pi * z), z);
    };
    auto normal = [&](int i, int j) {
        double x = 4.0 * i / n - 2.0, z = 4.0 * j / n - 2.0;
        double dx = 0.5 * pi * std::cos(pi * x) * std::cos(pi * z);
        double dz = -0.5 * pi * std::sin(pi * x) * std::sin(pi * z);
        return normalised(vector(-dx, 1.0, -dz));
    };
    std::vector<polygon> polys;
    polys.reserve(2 * static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int corners[2][3][2] = {{{i, j}, {i + 1, j}, {i + 1, j + 1}}, {{i, j}, {i + 1, j + 1}, {i, j + 1}}};
            for (const auto& t : corners) {
                polygon p;
                for (int k = 0; k < 3; ++k) {
                    p.position[k] = position(t[k][0], t[k][1]);
                    p.normal[k] = normal(t[k][0], t[k][1]);
                    p.texCoord[k] = vector(double(t[k][0]) / n, double(t[k][1]) / n, 0);
                }
                polys.push_back(p);
            }
        }
    return polys;
}
