#pragma once

#include <iosfwd>
#include <string>

// 4 x 4 matrix in OpenGL's column-major storage: element 4c + r is row r, column c,
// so it can be handed to glMultMatrixd as it is.
class matrix {
public:
    matrix(); // identity
    matrix(const matrix&) = default;
    matrix& operator=(const matrix&) = default;
    virtual ~matrix() = default;

    // r[4i + j] = sum_k a[4i + k] * b[4k + j] over the stored arrays; in OpenGL's
    // column-major reading this is the mathematical product b * a.
    matrix operator*(const matrix& b) const;

    double& operator[](int i) { return m[i]; }
    double operator[](int i) const { return m[i]; }

    double m[16];
};

// An empty line, then four lines "| m00 m01 m02 m03 |" in the stream's current format.
std::ostream& operator<<(std::ostream& out, const matrix& a);
std::string toString(const matrix& a);
