#pragma once

#include <cmath>

// float(pow(base, exponent)) as the specular term takes it, 0 for a negative base, without
// calling pow where that cannot change the float. For an integral exponent n up to 1024 and a
// base in [0, 1], repeated squaring is within a relative (n - 1) 2^-53 of the true power and
// the standard pow within 2^-52 of it; when the squared value widened by (n + 1) 2^-52 either
// way rounds to one float, pow's result rounds to that float too. Otherwise (a few bases in
// ten million) pow itself decides.
class specularPower {
public:
    explicit specularPower(double exponent) : exponent(exponent)
    {
        if (exponent >= 1.0 && exponent <= 1024.0 && exponent == std::floor(exponent)) {
            integral = static_cast<unsigned>(exponent);
            margin = (exponent + 1.0) * 0x1p-52;
        }
    }

    float operator()(double base) const
    {
        if (base < 0)
            return 0.0f;
        if (integral && base <= 1.0) {
            double r = 1.0, b = base;
            for (unsigned n = integral;;) {
                if (n & 1)
                    r *= b;
                n >>= 1;
                if (!n)
                    break;
                b *= b;
            }
            // Below this every product has stayed normal only if the power is far below the
            // smallest float, so pow's result becomes 0 (of the same sign) as well.
            if (r < 0x1p-1000)
                return static_cast<float>(r);
            float low = static_cast<float>(r - r * margin);
            float high = static_cast<float>(r + r * margin);
            if (low == high)
                return low;
        }
        return static_cast<float>(std::pow(base, exponent));
    }

    double exponentValue() const { return exponent; }
    unsigned integralExponent() const { return integral; } // 0 when the squaring does not apply
    double squaringMargin() const { return margin; }

private:
    double exponent;
    unsigned integral = 0;
    double margin = 0.0;
};
