#pragma once

// The light sums of eight texels at once, in the processor's 512-bit registers. Each lane
// holds exactly the numbers the one-texel loops compute: the vector instructions add,
// multiply, divide and take square roots with the same rounding as the scalar ones, and
// nothing is fused. The file that implements this is compiled for those registers, so it
// uses nothing from headers that other files compile too; call it only when
// wideLightingAvailable() says the processor has them.

bool wideLightingAvailable();

// An unlimited point light: its position, and its colour channels times 1/255 in single
// precision.
struct wideLight {
    double x, y, z;
    float red, green, blue;
};

// The exponent of the highlight as specularPower holds it.
struct widePower {
    double exponent;
    unsigned integral; // 0 unless the repeated squaring applies
    double margin;
};

// Eight texels, component by component.
struct wideTexels {
    double px[8], py[8], pz[8];
    double nx[8], ny[8], nz[8];
};

// Which sums: the all-terms rule (a light counts when N.L in single precision is above 0 and
// adds diffuse light and a highlight), its diffuse sums alone, or the specular rule (N.L
// before L is normalised, in double).
enum class wideRule { all, diffuseOnly, specularOnly };

// sums[0..5][lane]: diffuse red, green, blue, specular red, green, blue; the sums a rule
// does not form stay 0.
void wideLightSums(const wideTexels& texels, const wideLight* lights, int lightCount, const double eye[3],
                   wideRule rule, const widePower& power, float sums[6][8]);

// specularPower's float of eight bases, as the sums take it.
void wideSpecularPowers(const double bases[8], const widePower& power, float out[8]);
