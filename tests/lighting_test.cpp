#include "core/console.h"
#include "lights/pointlight.h"
#include "mesh/object.h"
#include "texlight/lighting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// A 2 x 1 map whose texel 0 is covered by a facing polygon at the origin with normal +z;
// texel 1 is uncovered.
struct litTexel {
    object obj{2, 1};
    polygon covering;

    litTexel(vector normal = vector(0, 0, 1))
    {
        covering.facing = 1;
        obj.alphaMap[0][0] = &covering;
        obj.positionsMap[0][0] = vector(0, 0, 0);
        obj.normalsMap[0][0] = normal;
        for (bitmap* b : {obj.diffuseBitmap.get(), obj.ambientBitmap.get(), obj.specularBitmap.get(),
                          obj.finalBitmap.get()})
            std::memset(b->pixels.get(), 0, b->byteCount());
        setMaterialColour(&obj, 0, colour(200, 100, 50, 255));
        setMaterialColour(&obj, 1, colour(200, 100, 0, 255));
        setMaterialColour(&obj, 2, colour(60, 120, 240, 255));
    }
};

pointlight* makeLight(vector at, colour c, pointlight* next = nullptr)
{
    static std::vector<std::unique_ptr<pointlight>> keep;
    keep.push_back(std::make_unique<pointlight>());
    keep.back()->setPosition(at);
    keep.back()->setColour(c);
    keep.back()->next = next;
    return keep.back().get();
}

colour pixel(const bitmap& b, int x) { return b.pixelAt(x, 0); }

const colour white(255, 255, 255, 255);
const colour black(0, 0, 0, 255);

} // namespace

TEST(lightingBitmaps, initialiseAndMaterials)
{
    object obj(3, 2);
    std::memset(obj.finalBitmap->pixels.get(), 7, obj.finalBitmap->byteCount());
    consoleCapture capture;
    initialiseBitmap(&obj, 3);
    initialiseBitmap(&obj, 4);
    initialiseBitmap(&obj, -1);
    EXPECT_EQ(capture.text(), "Initialising bitmap : FINAL COLOUR\n"
                              "ERROR: No bitmap specified to initialise!\n"
                              "ERROR: No bitmap specified to initialise!\n");
    for (size_t i = 0; i < obj.finalBitmap->byteCount(); ++i)
        ASSERT_EQ(obj.finalBitmap->pixels[i], 0);

    capture.clear();
    for (int kind = 0; kind < 3; ++kind)
        initialiseBitmap(&obj, kind);
    EXPECT_EQ(capture.text(), "Initialising bitmap : DIFFUSE\nInitialising bitmap : AMBIENT\n"
                              "Initialising bitmap : SPECULAR\n");

    obj.diffuseTexture.image = std::make_unique<bitmap>(1, 1, 3);
    setMaterialColour(&obj, 0, colour(1, 2, 3, 255));
    EXPECT_EQ(obj.diffuseTexture.image, nullptr); // the old bitmap is released
    EXPECT_EQ(obj.colourAt(obj.diffuseTexture, 5, 5), colour(1, 2, 3, 255));
    setMaterialColour(&obj, 3, colour(9, 9, 9, 255)); // no such channel: nothing changes
    EXPECT_EQ(obj.colourAt(obj.diffuseTexture, 0, 0), colour(1, 2, 3, 255));
}

TEST(lightingTerms, ambient)
{
    litTexel t;
    accumulateAmbient(&t.obj, colour(100, 100, 100, 255));
    EXPECT_EQ(pixel(*t.obj.ambientBitmap, 0), colour(78, 39, 0, 255)); // 200 x 0.392... = 78.43
    EXPECT_EQ(pixel(*t.obj.ambientBitmap, 1), black);                   // uncovered
}

TEST(lightingTerms, diffuse)
{
    struct Case {
        const char* what;
        light* lights;
        colour expected;
    } cases[] = {
        // 255 x 1/255 in single precision exceeds 1.0 slightly and is clamped.
        {"along the normal", makeLight({0, 0, 5}, white), {200, 100, 50, 255}},
        {"at 60 degrees", makeLight({0, std::sqrt(3.0), 1}, white), {100, 50, 25, 255}},
        {"two full lights clamp", makeLight({0, 0, 5}, white, makeLight({0, 0, 9}, white)), {200, 100, 50, 255}},
        {"behind the surface", makeLight({0, 0, -5}, white), black},
        {"in the plane", makeLight({3, 0, 0}, white), black},
        {"no lights", nullptr, black},
        {"grey light", makeLight({0, 0, 5}, colour(100, 100, 100, 255)), {78, 39, 19, 255}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        litTexel t;
        accumulateDiffuse(&t.obj, k.lights, vector(0, 0, 10));
        EXPECT_EQ(pixel(*t.obj.diffuseBitmap, 0), k.expected);
        EXPECT_EQ(pixel(*t.obj.diffuseBitmap, 1), black);
    }
}

TEST(lightingTerms, specular)
{
    struct Case {
        const char* what;
        vector eye;
        light* lights;
        double exponent;
        colour expected;
    } cases[] = {
        {"eye and light along the normal", {0, 0, 4}, makeLight({0, 0, 5}, white), 100, {60, 120, 240, 255}},
        {"light behind", {0, 0, 4}, makeLight({0, 0, -5}, white), 100, black},
        {"half way", {0, 4, 4}, makeLight({0, 0, 5}, white), 1, {55, 110, 221, 255}},
        // The half vector points below the surface: no highlight, rather than a negative
        // power whose low byte would show as a bright colour.
        {"eye below the surface", {0, 0, -4}, makeLight({0, 5, 0.1}, white), 1, black},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        litTexel t;
        t.obj.specularCoefficient = k.exponent;
        accumulateSpecular(&t.obj, k.lights, k.eye);
        EXPECT_EQ(pixel(*t.obj.specularBitmap, 0), k.expected);
    }
}

TEST(lightingTerms, composeSaturatesAndAllInOneDiffers)
{
    litTexel t;
    t.obj.ambientBitmap->setPixel(0, 0, colour(200, 0, 10, 255));
    t.obj.diffuseBitmap->setPixel(0, 0, colour(100, 0, 20, 255));
    t.obj.specularBitmap->setPixel(0, 0, colour(0, 0, 30, 255));
    composeFinal(&t.obj);
    EXPECT_EQ(pixel(*t.obj.finalBitmap, 0), colour(255, 0, 60, 255)); // 255, not 44

    // Two full lights: the separate path clamps each term at 1.0, the single pass does not.
    light* two = makeLight({0, 0, 5}, white, makeLight({0, 0, 9}, white));
    litTexel separate, single;
    separate.obj.specularCoefficient = single.obj.specularCoefficient = 1.0;
    relight(&separate.obj, {1, 1, 0}, two, vector(0, 0, 4), colour(100, 100, 100, 255), true);
    relight(&single.obj, {1, 1, 1}, two, vector(0, 0, 4), colour(100, 100, 100, 255), true);
    EXPECT_EQ(pixel(*separate.obj.finalBitmap, 0), colour(255, 139, 50, 255));
    // 2 x 200 diffuse + 2 x 60 specular + 78.4 ambient, clamped only at the end.
    EXPECT_EQ(pixel(*single.obj.finalBitmap, 0), colour(255, 255, 255, 255));
    // The single pass leaves the term bitmaps alone.
    EXPECT_EQ(pixel(*single.obj.diffuseBitmap, 0), black);
}

TEST(lightingTerms, dispatchChoosesTheBitmapsThatChange)
{
    struct Case {
        lightingTerms terms;
        bool composeWhenNone;
        bool ambient, diffuse, specular, final;
    } cases[] = {
        {{1, 1, 1}, true, false, false, false, true},
        {{1, 1, 0}, true, true, true, false, true},
        {{0, 1, 0}, false, false, true, false, true},
        {{0, 0, 1}, false, false, false, true, true},
        {{0, 0, 0}, true, false, false, false, true},   // preparation sums the stale terms
        {{0, 0, 0}, false, false, false, false, false}, // drawing does nothing
        {{2, 2, 2}, false, false, false, false, false}, // only 1 switches a term on
    };
    light* lamp = makeLight({0, 0, 5}, white);
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.terms.ambient) + std::to_string(k.terms.diffuse) + std::to_string(k.terms.specular));
        litTexel t;
        // Stale contents that a recomputation would overwrite.
        for (bitmap* b : {t.obj.ambientBitmap.get(), t.obj.diffuseBitmap.get(), t.obj.specularBitmap.get(),
                          t.obj.finalBitmap.get()})
            b->setPixel(0, 0, colour(1, 1, 1, 255));
        relight(&t.obj, k.terms, lamp, vector(0, 0, 4), colour(100, 100, 100, 255), k.composeWhenNone);
        EXPECT_EQ(pixel(*t.obj.ambientBitmap, 0) != colour(1, 1, 1, 255), k.ambient);
        EXPECT_EQ(pixel(*t.obj.diffuseBitmap, 0) != colour(1, 1, 1, 255), k.diffuse);
        EXPECT_EQ(pixel(*t.obj.specularBitmap, 0) != colour(1, 1, 1, 255), k.specular);
        EXPECT_EQ(pixel(*t.obj.finalBitmap, 0) != colour(1, 1, 1, 255), k.final);
    }
}

TEST(lightingTerms, unlitTexelsAndEmptyTextures)
{
    litTexel t;
    t.covering.facing = 0; // a polygon facing away is not lit
    accumulateDiffuse(&t.obj, makeLight({0, 0, 5}, white), vector());
    EXPECT_EQ(pixel(*t.obj.diffuseBitmap, 0), black);

    litTexel empty;
    empty.obj.ambientTexture.uniform.reset();
    consoleCapture capture;
    accumulateAmbient(&empty.obj, colour(100, 100, 100, 255));
    EXPECT_EQ(capture.text(), "ERROR: No type assigned to texture!\n"); // once: one lit texel
    EXPECT_EQ(pixel(*empty.obj.ambientBitmap, 0), black);
}

TEST(pointlight, defaultsAndOperations)
{
    pointlight l;
    EXPECT_EQ(l.colour, colour(255, 255, 255, 255));
    EXPECT_EQ(l.position, vector(10, 10, 10));
    EXPECT_EQ(l.range, -1.0);
    EXPECT_EQ(l.next, nullptr);

    l.setPosition(vector(0, 5.721, 0));
    vector d = l.toLight(vector(0, 0, 0));
    EXPECT_EQ(d, vector(0, 5.721, 0));
    EXPECT_EQ(d.w, 1.0);
    vector far(0, 0, 0);
    far.w = 2.0;
    l.setPosition(far);
    EXPECT_EQ(l.position.w, 2.0);

    // Unlimited: the colour everywhere, including at the light itself.
    l.setColour(colour(200, 200, 200, 255));
    light* base = &l;
    EXPECT_EQ(base->illumination(vector(1e9, 0, 0)), colour(200, 200, 200, 255));
    EXPECT_EQ(base->illumination(l.position), colour(200, 200, 200, 255));
}

TEST(pointlight, limitedRangeFadesWithDistance)
{
    pointlight l;
    l.setColour(colour(200, 200, 200, 255));
    l.setPosition(vector(0, 0, 0));
    l.setRange(10);
    struct Case {
        double distance;
        colour expected;
    } cases[] = {
        {0, {200, 200, 200, 255}},  // full colour at the light
        {5, {100, 100, 100, 255}},
        {7.5, {50, 50, 50, 255}},
        {10, {0, 0, 0, 255}},       // black at and beyond the reach
        {25, {0, 0, 0, 255}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(l.illumination(vector(0, k.distance, 0)), k.expected) << k.distance;

    // A blocked path is dark; the test is only made within reach.
    static int asked = 0;
    l.blocked = [](vector, vector) { ++asked; return true; };
    EXPECT_EQ(l.illumination(vector(0, 5, 0)), colour(0, 0, 0, 255));
    EXPECT_EQ(l.illumination(vector(0, 50, 0)), colour(0, 0, 0, 255));
    EXPECT_EQ(asked, 1);
}

namespace {

// A point light that tells the relighting nothing of its form, so it is asked through its
// virtual operations.
class askedLight : public pointlight {
    lightForm form() const override { return lightForm(); }
};

} // namespace

TEST(lightingTerms, shortcutsGiveTheSameBytes)
{
    // A 31 x 17 map of varied points and normals, half of it covered; a bitmap material is
    // read per texel, a uniform one once.
    auto build = [](object& obj, polygon& p) {
        p.facing = 1;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 31; ++x) {
                obj.alphaMap[x][y] = (x + y) % 2 ? &p : nullptr;
                obj.positionsMap[y][x] = vector(x * 0.1 - 1.5, std::sin(x * 0.7 + y), y * 0.1 - 0.8);
                obj.normalsMap[y][x] = normalised(vector(std::cos(x * 0.3), 1.0, std::sin(y * 0.5)));
            }
        for (bitmap* b : {obj.diffuseBitmap.get(), obj.ambientBitmap.get(), obj.specularBitmap.get(),
                          obj.finalBitmap.get()})
            std::memset(b->pixels.get(), 0, b->byteCount());
        setMaterialColour(&obj, 0, colour(200, 150, 100, 255));
        setMaterialColour(&obj, 1, colour(90, 90, 90, 255));
        obj.specularTexture.image = std::make_unique<bitmap>(31, 17, 3);
        for (size_t i = 0; i < obj.specularTexture.image->byteCount(); ++i)
            obj.specularTexture.image->pixels[i] = static_cast<uint8_t>(i * 37);
        obj.specularCoefficient = 7.5;
    };
    object quick(31, 17), asked(31, 17);
    polygon p1, p2;
    build(quick, p1);
    build(asked, p2);

    pointlight q[2];
    askedLight a[2];
    const vector at[2] = {{0, 3, 1}, {-2, 1, 2}};
    for (int i = 0; i < 2; ++i) {
        q[i].setPosition(at[i]);
        a[i].setPosition(at[i]);
        q[i].setColour(colour(255, 200, 100 + 50 * i, 255));
        a[i].setColour(colour(255, 200, 100 + 50 * i, 255));
    }
    q[0].next = &q[1];
    a[0].next = &a[1];
    const vector eye(0.5, 2, 4);
    for (lightingTerms terms : {lightingTerms{1, 1, 1}, lightingTerms{1, 1, 0}}) {
        relight(&quick, terms, q, eye, colour(100, 100, 100, 255), true);
        relight(&asked, terms, a, eye, colour(100, 100, 100, 255), true);
    }
    accumulateSpecular(&quick, q, eye);
    accumulateSpecular(&asked, a, eye);
    const bitmap* quickMaps[] = {quick.ambientBitmap.get(), quick.diffuseBitmap.get(), quick.specularBitmap.get(),
                                 quick.finalBitmap.get()};
    const bitmap* askedMaps[] = {asked.ambientBitmap.get(), asked.diffuseBitmap.get(), asked.specularBitmap.get(),
                                 asked.finalBitmap.get()};
    bool lit = false;
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(0, std::memcmp(quickMaps[m]->pixels.get(), askedMaps[m]->pixels.get(), quickMaps[m]->byteCount())) << m;
        for (size_t i = 0; i < quickMaps[m]->byteCount(); ++i)
            lit = lit || quickMaps[m]->pixels[i] != 0;
    }
    EXPECT_TRUE(lit);
}
