#include "core/colour.h"

#include <cmath>

namespace {

// Truncates toward zero and saturates to the component type, so huge factors cannot wrap.
int16_t truncatedComponent(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 32767.0)
        return 32767;
    if (v <= -32768.0)
        return -32768;
    return static_cast<int16_t>(v);
}

} // namespace

colour scaled(colour col, double s)
{
    colour r(truncatedComponent(col.red * s), truncatedComponent(col.green * s),
             truncatedComponent(col.blue * s), 255);
    return clamped(r);
}

colour& clamped(colour& col)
{
    int16_t* parts[4] = {&col.red, &col.green, &col.blue, &col.alpha};
    for (int16_t* p : parts) {
        if (*p < 0) *p = 0;
        if (*p > 255) *p = 255;
    }
    return col;
}
