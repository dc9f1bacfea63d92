// The fast relighting against its plain form (tests/reference): the same bytes in every
// lighting bitmap, the same console text, for any number of threads.

#include "bench/gridmesh.h"
#include "core/console.h"
#include "core/workers.h"
#include "lights/pointlight.h"
#include "lights/spotlight.h"
#include "mesh/object.h"
#include "mesh/uvrepair.h"
#include "tests/reference/lighting_reference.h"
#include "tests/testdata.h"
#include "texlight/lighting.h"
#include "texlight/specularpower.h"
#include "texlight/surfacemaps.h"
#include "texlight/widelighting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const colour ambientLight(100, 100, 100, 255);

// The shared pool with n threads for one scope, back to two afterwards.
struct threadsForScope {
    explicit threadsForScope(int n) { setSharedWorkerThreads(n); }
    ~threadsForScope() { setSharedWorkerThreads(2); }
};

// A light that tells the relighting nothing of its form and that its operations are not safe
// on several threads, so it is asked through its virtual operations on the calling thread only.
class strangeLight : public pointlight {
    lightForm form() const override
    {
        lightForm f;
        f.shareable = false;
        return f;
    }
};

std::vector<uint8_t> bytesOf(const bitmap& b) { return {b.pixels.get(), b.pixels.get() + b.byteCount()}; }

bitmap* lightingBitmap(object& obj, int m)
{
    bitmap* all[] = {obj.ambientBitmap.get(), obj.diffuseBitmap.get(), obj.specularBitmap.get(),
                     obj.finalBitmap.get()};
    return all[m];
}

// What one form of an operation leaves behind.
struct outcome {
    std::vector<uint8_t> maps[4];
    std::string console;
};

// Runs work on the object from the given bitmap contents and records the result.
outcome runFrom(object& obj, const outcome& start, const std::function<void()>& work)
{
    for (int m = 0; m < 4; ++m)
        std::memcpy(lightingBitmap(obj, m)->pixels.get(), start.maps[m].data(), start.maps[m].size());
    outcome out;
    {
        consoleCapture capture;
        work();
        out.console = capture.text();
    }
    for (int m = 0; m < 4; ++m)
        out.maps[m] = bytesOf(*lightingBitmap(obj, m));
    return out;
}

struct operation {
    std::string name;
    std::function<void()> fast;
    std::function<void()> plain;
};

std::vector<operation> operationsOn(object& obj, light* lights, vector eye)
{
    object* o = &obj;
    std::vector<operation> ops = {
        {"ambient", [=] { accumulateAmbient(o, ambientLight); }, [=] { referenceAccumulateAmbient(o, ambientLight); }},
        {"diffuse", [=] { accumulateDiffuse(o, lights, eye); }, [=] { referenceAccumulateDiffuse(o, lights, eye); }},
        {"specular", [=] { accumulateSpecular(o, lights, eye); }, [=] { referenceAccumulateSpecular(o, lights, eye); }},
        {"all", [=] { accumulateAll(o, lights, eye, ambientLight); },
         [=] { referenceAccumulateAll(o, lights, eye, ambientLight); }},
        {"compose", [=] { composeFinal(o); }, [=] { referenceComposeFinal(o); }},
    };
    for (int bits = 0; bits < 8; ++bits)
        for (bool composeWhenNone : {false, true}) {
            lightingTerms terms{uint8_t(bits & 1), uint8_t((bits >> 1) & 1), uint8_t((bits >> 2) & 1)};
            ops.push_back({"relight " + std::to_string(bits) + (composeWhenNone ? " composing" : ""),
                           [=] { relight(o, terms, lights, eye, ambientLight, composeWhenNone); },
                           [=] { referenceRelight(o, terms, lights, eye, ambientLight, composeWhenNone); }});
        }
    return ops;
}

// Every operation in both forms, from bitmaps full of noise (texels nobody lights must keep
// it), with 1, 2 and 3 threads. Returns how many bytes the plain forms changed, so that a
// case can check that it lit something.
long expectSameAsPlainForms(object& obj, light* lights, vector eye, const std::string& what)
{
    SCOPED_TRACE(what);
    std::mt19937 noise(7);
    outcome start;
    for (int m = 0; m < 4; ++m) {
        start.maps[m].resize(lightingBitmap(obj, m)->byteCount());
        for (uint8_t& b : start.maps[m])
            b = static_cast<uint8_t>(noise());
    }
    long changed = 0;
    for (const operation& op : operationsOn(obj, lights, eye)) {
        SCOPED_TRACE(op.name);
        outcome plain = runFrom(obj, start, op.plain);
        for (int m = 0; m < 4; ++m)
            for (size_t i = 0; i < plain.maps[m].size(); ++i)
                changed += plain.maps[m][i] != start.maps[m][i];
        // Eight lanes at a time where the processor has the registers for it, two otherwise.
        for (bool wide : {false, true}) {
            if (wide && !wideLightingAvailable())
                continue;
            allowWideRelighting(wide);
            for (int threads : {1, 2, 3}) {
                threadsForScope pool(threads);
                outcome fast = runFrom(obj, start, op.fast);
                for (int m = 0; m < 4; ++m)
                    EXPECT_TRUE(fast.maps[m] == plain.maps[m])
                        << "bitmap " << m << ", " << threads << " threads, " << (wide ? "eight" : "two") << " lanes";
                EXPECT_EQ(fast.console, plain.console) << threads << " threads";
                if (::testing::Test::HasFailure()) {
                    allowWideRelighting(true);
                    return changed;
                }
            }
        }
        allowWideRelighting(true);
    }
    return changed;
}

// Maps of a mesh as the preparation makes them: repaired texture coordinates, coverage,
// surface points and normals; cleared bitmaps and uniform materials.
void prepareMaps(object& obj)
{
    consoleCapture quiet;
    if (obj.shadingPolygons.empty()) {
        checkUvWinding(&obj);
        normaliseUvs(&obj);
    }
    generateAlphaMap(&obj);
    generatePositionsMap(&obj);
    generateNormalsMap(&obj);
    for (int kind : {0, 1, 2, 3})
        initialiseBitmap(&obj, kind);
    setMaterialColour(&obj, 0, colour(200, 150, 100, 255));
    setMaterialColour(&obj, 1, colour(90, 90, 120, 255));
    setMaterialColour(&obj, 2, colour(255, 240, 200, 255));
}

// The benchmark's wavy grid of n by n quads, prepared as above.
void prepareGrid(object& obj, int n)
{
    obj.shadingPolygons = gridSurface(n);
    obj.polygonCount = static_cast<int>(obj.shadingPolygons.size());
    prepareMaps(obj);
}

// Three point lights of the given colours, linked in order.
struct threeLamps {
    pointlight lamp[3];
    threeLamps(vector a, vector b, vector c)
    {
        const vector at[3] = {a, b, c};
        const colour tint[3] = {{255, 255, 255, 255}, {255, 0, 0, 255}, {40, 200, 90, 255}};
        for (int i = 0; i < 3; ++i) {
            lamp[i].setPosition(at[i]);
            lamp[i].setColour(tint[i]);
            lamp[i].next = i < 2 ? &lamp[i + 1] : nullptr;
        }
    }
};

double uniform(std::mt19937& random, double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(random);
}

} // namespace

TEST(specularPower, sameFloatAsThePowerFunction)
{
    std::mt19937_64 random(2024);
    auto sameFloat = [](float a, float b) {
        return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
    };
    auto plain = [](double base, double exponent) {
        return base < 0 ? 0.0f : static_cast<float>(std::pow(base, exponent));
    };
    const double special[] = {0.0, -0.0, 1.0, std::nextafter(1.0, 0.0), 0.5, 1e-300, 4.9e-324, 2.2250738585072014e-308,
                              -1e-300, -0.25, 1.0000000000000002, 1.5, 2.0, 0.999, 0.9999999,
                              std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              // Bases whose squared power rounds to another float than the power
                              // function's: to the 100th, 100th, 100th, 7th, 1024th, 1024th, 1024th.
                              0.50040884801863772, 0.89187682398926138, 0.74496628565516665, 0.97443240335837356,
                              0.96917098892907561, 0.92024502605523484, 0.99183151544022841};
    const double exponents[] = {1, 2, 3, 5, 8, 12, 20, 40, 99, 100, 128, 255, 1000, 1024, 1025, 7.5, 0.5, 0, -1, -3, 1e6};
    const bool wide = wideLightingAvailable();
    for (double e : exponents) {
        specularPower power(e);
        const widePower eight{power.exponentValue(), power.integralExponent(), power.squaringMargin()};
        std::vector<double> bases(std::begin(special), std::end(special));
        // Bases spread over [0, 1], then crowded towards 1 where highlights are.
        for (int i = 0; i < 50000; ++i) {
            double u = std::uniform_real_distribution<double>(0, 1)(random);
            for (double base : {u, 1.0 - u * 1e-3, 1.0 - u * 1e-7})
                bases.push_back(base);
        }
        for (double base : bases)
            ASSERT_TRUE(sameFloat(power(base), plain(base, e))) << base << " ^ " << e;
        // The eight-lane form, lane by lane.
        for (size_t i = 0; wide && i + 8 <= bases.size(); i += 8) {
            float out[8];
            wideSpecularPowers(&bases[i], eight, out);
            for (size_t k = 0; k < 8; ++k)
                ASSERT_TRUE(sameFloat(out[k], plain(bases[i + k], e))) << bases[i + k] << " ^ " << e << " in eight lanes";
        }
    }
}

TEST(wideLighting, eachLaneHoldsTheOneTexelSums)
{
    if (!wideLightingAvailable())
        GTEST_SKIP() << "this processor has no 512-bit registers";
    std::mt19937 random(4242);
    const vector eye(0.5, 2, 4);
    const vector at[3] = {{0, 4, 0}, {0, 0, 0}, {-2, 1, -3}};
    const colour tint[3] = {{255, 255, 255, 255}, {255, 0, 17, 255}, {40, 200, 90, 255}};
    threeLamps lamps(at[0], at[1], at[2]);
    std::vector<wideLight> eight;
    for (int i = 0; i < 3; ++i) {
        lamps.lamp[i].setColour(tint[i]);
        eight.push_back({at[i].x, at[i].y, at[i].z, tint[i].red * (1.0f / 255.0f), tint[i].green * (1.0f / 255.0f),
                         tint[i].blue * (1.0f / 255.0f)});
    }
    const double eyeAt[3] = {eye.x, eye.y, eye.z};
    for (double exponent : {100.0, 7.0, 2.5}) {
        specularPower power(exponent);
        const widePower widePow{exponent, power.integralExponent(), power.squaringMargin()};
        for (wideRule rule : {wideRule::all, wideRule::diffuseOnly, wideRule::specularOnly})
            for (int group = 0; group < 2000; ++group) {
                wideTexels texels;
                vector p[8], n[8];
                for (int k = 0; k < 8; ++k) {
                    p[k] = vector(uniform(random, -3, 3), uniform(random, -3, 3), uniform(random, -3, 3));
                    n[k] = normalised(vector(uniform(random, -1, 1), uniform(random, -1, 1), uniform(random, -1, 1)));
                    switch (random() % 16) {
                    case 0: n[k] = vector(); break;                 // a degenerate texel
                    case 1: p[k] = at[0]; break;                    // at a light
                    case 2: p[k] = eye; break;                      // at the eye
                    case 3: n[k] = vector(std::nan(""), 0, 1); break;
                    case 4: p[k] = vector(1e-170, 1e-170, -1e-170); break; // L's squares underflow
                    default: break;
                    }
                    texels.px[k] = p[k].x, texels.py[k] = p[k].y, texels.pz[k] = p[k].z;
                    texels.nx[k] = n[k].x, texels.ny[k] = n[k].y, texels.nz[k] = n[k].z;
                }
                float sums[6][8];
                wideLightSums(texels, eight.data(), 3, eyeAt, rule, widePow, sums);
                for (int k = 0; k < 8; ++k) {
                    const referenceRule plain = rule == wideRule::all            ? referenceRule::all
                                                : rule == wideRule::diffuseOnly ? referenceRule::diffuse
                                                                                : referenceRule::specular;
                    const referenceSums sum = referenceLightSums(plain, p[k], n[k], &lamps.lamp[0], eye, exponent);
                    const float one[6] = {sum.dr, sum.dg, sum.db, sum.sr, sum.sg, sum.sb};
                    // With a NaN normal the plain all-terms form skips the highlight that the
                    // library adds; the final byte is 0 either way, as the diffuse sum is NaN.
                    const int checked = rule == wideRule::all && std::isnan(sum.dr) ? 3 : 6;
                    for (int t = 0; t < checked; ++t)
                        ASSERT_TRUE(std::memcmp(&one[t], &sums[t][k], sizeof(float)) == 0 ||
                                    (std::isnan(one[t]) && std::isnan(sums[t][k])))
                            << "sum " << t << " lane " << k << ": " << one[t] << " against " << sums[t][k];
                }
            }
    }
}

TEST(relighting, sameBytesAsPlainFormsOnRandomMaps)
{
    std::mt19937 random(31337);
    const double exponents[] = {1, 2, 5, 8, 12, 20, 40, 100, 128, 1024, 1025, 7.5, 0.5, 0, -2};
    for (int round = 0; round < 24; ++round) {
        // Small maps run on the calling thread, larger ones are shared out.
        const bool large = round % 3 == 0;
        const int w = large ? 96 + round : 1 + static_cast<int>(random() % 40);
        const int h = large ? 90 : 1 + static_cast<int>(random() % 40);
        object obj(w, h);
        std::vector<polygon> covering(4);
        for (size_t i = 0; i < covering.size(); ++i)
            covering[i].facing = i == 3 ? 0 : (i == 2 ? 2 : 1); // only 1 counts as facing
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                obj.alphaMap[x][y] = random() % 5 == 0 ? nullptr : &covering[random() % covering.size()];
                vector p(uniform(random, -3, 3), uniform(random, -3, 3), uniform(random, -3, 3));
                vector n(uniform(random, -1, 1), uniform(random, -1, 1), uniform(random, -1, 1));
                switch (random() % 12) {
                case 0: n = vector(); break;                          // a degenerate texel
                case 1: n = n * 1.7; break;                           // not of unit length
                case 2: n = vector(0.0, -0.0, 1.0); break;
                case 3: p = vector(0, 4, 0); break;                   // at the first light
                case 4: p = vector(0.5, 2, 4); break;                 // at the eye
                default: n = normalised(n);
                }
                obj.positionsMap[y][x] = p;
                obj.normalsMap[y][x] = n;
            }
        setMaterialColour(&obj, 0, colour(int16_t(random() % 256), int16_t(random() % 256), 70, 255));
        setMaterialColour(&obj, 1, colour(90, int16_t(random() % 256), 255, 255));
        setMaterialColour(&obj, 2, colour(255, 255, int16_t(random() % 256), 255));
        if (round % 2 == 0) {
            // Materials far brighter than any file gives: a pixel then shows the accumulators
            // to within a few units in their last place, so that any difference in rounding
            // would show in the bytes.
            setMaterialColour(&obj, 0, colour(32767, 32001, int16_t(random() % 32768), 255));
            setMaterialColour(&obj, 2, colour(int16_t(random() % 32768), 32767, 30011, 255));
        }
        if (round % 4 == 1) {
            // A per-texel specular material as large as the map.
            obj.specularTexture.uniform.reset();
            obj.specularTexture.image = std::make_unique<bitmap>(w, h, 3);
            for (size_t i = 0; i < obj.specularTexture.image->byteCount(); ++i)
                obj.specularTexture.image->pixels[i] = static_cast<uint8_t>(random());
        }
        obj.specularCoefficient = exponents[round % (sizeof exponents / sizeof exponents[0])];

        pointlight first, limited;
        spotlight spot;
        strangeLight strange;
        first.setPosition(vector(0, 4, 0));
        first.setColour(colour(255, 255, 255, 255));
        limited.setPosition(vector(uniform(random, -3, 3), 3, 1));
        limited.setRange(4);
        limited.setColour(colour(200, 0, 90, 255));
        spot.setPosition(vector(1, 3, 2));
        spot.setDirection(vector(-1, -3, -2));
        spot.setColour(colour(0, 0, 0, 255)); // reaches nothing
        if (round % 2)
            spot.setColour(colour(30, 60, 255, 255));
        strange.setPosition(vector(-2, 1, 3));
        light* order[] = {&first, &limited, &spot, &strange};
        const int count = round % 5; // 0 to 4 lights; the strange one only with all four
        for (int i = 0; i < count; ++i)
            order[i]->next = i + 1 < count ? order[i + 1] : nullptr;
        expectSameAsPlainForms(obj, count ? order[0] : nullptr, vector(0.5, 2, 4), "round " + std::to_string(round));
        if (HasFailure())
            return;
    }
}

TEST(relighting, materialMessagesComeOutInThePlainOrder)
{
    // Materials that report on the console (an empty one, one smaller than the map) keep
    // the plain order of the messages.
    object obj(90, 100);
    polygon p;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 90; ++x) {
            obj.alphaMap[x][y] = (x * y) % 7 ? &p : nullptr;
            obj.positionsMap[y][x] = vector(x * 0.05, 0, y * 0.05);
            obj.normalsMap[y][x] = vector(0, 1, 0);
        }
    setMaterialColour(&obj, 0, colour(200, 150, 100, 255));
    setMaterialColour(&obj, 1, colour(90, 90, 120, 255));
    obj.ambientTexture.uniform.reset();
    obj.specularTexture.image = std::make_unique<bitmap>(80, 95, 3);
    std::memset(obj.specularTexture.image->pixels.get(), 200, obj.specularTexture.image->byteCount());
    pointlight lamp;
    lamp.setPosition(vector(2, 3, 2));
    long changed = expectSameAsPlainForms(obj, &lamp, vector(2, 5, -1), "reporting materials");
    EXPECT_GT(changed, 0);
}

TEST(relighting, sameBytesAsPlainFormsOnAGridSurface)
{
    // The benchmark's wavy surface: nearly every texel lit, broad highlights.
    object obj(128, 128);
    prepareGrid(obj, 30);
    threeLamps lamps(vector(0, 4, 0), vector(3, 2, -1), vector(-2, 3, 2));
    for (double exponent : {100.0, 20.0, 7.5}) {
        obj.specularCoefficient = exponent;
        long changed = expectSameAsPlainForms(obj, &lamps.lamp[0], vector(0, 3, 6), "exponent " + std::to_string(exponent));
        EXPECT_GT(changed, 0);
    }
    // Light and eye straight above the middle: highlights that reach full strength.
    threeLamps above(vector(0, 5, 0), vector(0, 9, 0), vector(0, 7, 0));
    obj.specularCoefficient = 8;
    expectSameAsPlainForms(obj, &above.lamp[0], vector(0, 5, 0), "overhead");
}

TEST(relighting, sameBytesAsPlainFormsOnRealMeshes)
{
    REQUIRE_TESTDATA();
    for (const char* name : {"spot.obj", "gazebo.obj"}) {
        SCOPED_TRACE(name);
        std::unique_ptr<object> obj;
        {
            consoleCapture quiet;
            obj = loadObject(std::string(TESTDATA_DIR) + "/meshes/" + name, 128, 96);
        }
        ASSERT_NE(obj, nullptr);
        prepareMaps(*obj);
        obj->specularCoefficient = 40;
        threeLamps lamps(vector(2, 3, 4), vector(-3, 1, -2), vector(0, -4, 1));
        long changed = expectSameAsPlainForms(*obj, &lamps.lamp[0], vector(1, 2, 6), name);
        EXPECT_GT(changed, 0);
    }
}

TEST(relighting, reportsTheRowsWhoseBytesChanged)
{
    object obj(64, 200);
    prepareGrid(obj, 12);
    pointlight lamp;
    lamp.setPosition(vector(0, 3, 0));
    const vector eye(0, 3, 5);
    for (lightingTerms terms : {lightingTerms{1, 1, 1}, lightingTerms{0, 1, 0}, lightingTerms{1, 0, 1}}) {
        SCOPED_TRACE(std::to_string(terms.ambient) + std::to_string(terms.diffuse) + std::to_string(terms.specular));
        for (int threads : {1, 2}) {
            threadsForScope pool(threads);
            for (bitmap* b : {obj.ambientBitmap.get(), obj.diffuseBitmap.get(), obj.specularBitmap.get()})
                std::memset(b->pixels.get(), 0, b->byteCount());
            // A few rows of the final colour spoilt: the relighting mends exactly those.
            relight(&obj, terms, &lamp, eye, ambientLight, true);
            std::vector<uint8_t> before = bytesOf(*obj.finalBitmap);
            std::memset(obj.finalBitmap->pixels.get() + 3 * 64 * 40, 1, 3 * 64 * 3);  // rows 40-42
            std::memset(obj.finalBitmap->pixels.get() + 3 * 64 * 150 + 9, 1, 1);      // in row 150
            changedRows changed = relight(&obj, terms, &lamp, eye, ambientLight, true);
            EXPECT_EQ(changed.first, 40);
            EXPECT_EQ(changed.end, 151);
            EXPECT_TRUE(bytesOf(*obj.finalBitmap) == before);
            // Nothing moved: nothing changed.
            changed = relight(&obj, terms, &lamp, eye, ambientLight, true);
            EXPECT_EQ(changed.first, changed.end);
            // The light moved: every row with a lit texel may change, none outside.
            lamp.setPosition(vector(1, 2, -1));
            changed = relight(&obj, terms, &lamp, eye, ambientLight, true);
            std::vector<uint8_t> after = bytesOf(*obj.finalBitmap);
            int first = -1, end = 0;
            for (int y = 0; y < 200; ++y)
                if (std::memcmp(&before[3 * 64 * y], &after[3 * 64 * y], 3 * 64) != 0) {
                    if (first < 0)
                        first = y;
                    end = y + 1;
                }
            EXPECT_EQ(changed.first, first);
            EXPECT_EQ(changed.end, end);
            EXPECT_LT(first, end);
            lamp.setPosition(vector(0, 3, 0));
        }
    }
    // Nothing recomputed, nothing changed.
    changedRows none = relight(&obj, {0, 0, 0}, &lamp, eye, ambientLight, false);
    EXPECT_EQ(none.first, none.end);
}
