#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// A point, direction or texel position. Construction and arithmetic set w to 1.0;
// only set() and copies keep another w.
class vector {
public:
    vector() = default;
    vector(double x, double y, double z) : x(x), y(y), z(z) {}
    vector(const vector&) = default;
    vector& operator=(const vector&) = default;
    virtual ~vector() = default;

    void set(double nx, double ny, double nz) { x = nx; y = ny; z = nz; }

    vector operator+(vector b) const { return {x + b.x, y + b.y, z + b.z}; }
    vector operator-(vector b) const { return {x - b.x, y - b.y, z - b.z}; }
    vector operator*(double s) const { return {x * s, y * s, z * s}; }
    vector operator/(double s) const { return {x / s, y / s, z / s}; } // no test for s == 0
    vector operator-() const { return {0 - x, 0 - y, 0 - z}; }

    // Exact comparison of all four components: edges are matched by identical positions.
    bool operator==(const vector& b) const { return x == b.x && y == b.y && z == b.z && w == b.w; }
    bool operator!=(const vector& b) const { return !(*this == b); }

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0; // homogeneous coordinate
};

inline vector negated(vector a) { return -a; }
inline double dot(vector a, vector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vector cross(vector a, vector b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Divides each non-zero component by the length when that length is not 0; w is kept.
inline void normalise(vector& v)
{
    double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0)
        return;
    // Zero components are left alone so that -0.0 and 0.0 stay as they were.
    if (v.x != 0.0) v.x /= len;
    if (v.y != 0.0) v.y /= len;
    if (v.z != 0.0) v.z /= len;
}

inline vector normalised(vector a)
{
    normalise(a);
    return a;
}

// Inside test in the x-y plane for a counter-clockwise triangle; points on an edge are inside.
bool pointInTriangle(vector p, vector a, vector b, vector c);

// A coordinate's bits with -0 read as 0, so that equal coordinates hash alike.
inline uint64_t coordinateBits(double d)
{
    d += 0.0;
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

// Spreads every bit of h over the result, for hash tables indexed by the low bits.
inline uint64_t mixBits(uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

