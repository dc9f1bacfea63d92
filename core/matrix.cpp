#include "core/matrix.h"

#include <ostream>
#include <sstream>

matrix::matrix()
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[4 * i + j] = (i == j) ? 1.0 : 0.0;
}

matrix matrix::operator*(const matrix& b) const
{
    matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += m[4 * i + k] * b.m[4 * k + j];
            r.m[4 * i + j] = sum;
        }
    return r;
}

std::ostream& operator<<(std::ostream& out, const matrix& a)
{
    out << '\n';
    for (int r = 0; r < 4; ++r) {
        out << "| ";
        for (int c = 0; c < 4; ++c)
            out << a.m[r + 4 * c] << (c < 3 ? " " : " |");
        out << '\n';
    }
    return out;
}

std::string toString(const matrix& a)
{
    std::ostringstream out;
    out << a;
    return out.str();
}
