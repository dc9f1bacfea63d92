#pragma once

#include <cstdint>

// Material or light colour; components hold 0-255 (signed so that sums can be clamped).
class colour {
public:
    colour() = default;
    colour(int16_t red, int16_t green, int16_t blue, int16_t alpha)
        : red(red), green(green), blue(blue), alpha(alpha) {}
    colour(const colour&) = default;
    colour& operator=(const colour&) = default;
    virtual ~colour() = default;

    bool operator==(const colour& b) const
    {
        return red == b.red && green == b.green && blue == b.blue && alpha == b.alpha;
    }
    bool operator!=(const colour& b) const { return !(*this == b); }

    int16_t red = 0;
    int16_t green = 0;
    int16_t blue = 0;
    int16_t alpha = 0;
};

// Each of red, green and blue times s, truncated; alpha 255; then clamped. col is unchanged.
colour scaled(colour col, double s);
// Limits every component to 0-255 in place and returns it.
colour& clamped(colour& col);
