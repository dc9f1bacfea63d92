#pragma once

#include "core/vector.h"

struct Scene;

// The camera's vertical field of view, in degrees.
constexpr double fieldOfView = 75.0;

// Eye on a sphere of radius viewDistance about the centre, from the camera's azimuth and
// elevation.
void updateEye(Scene& s);
// Looks at the centre of the bounding box of every object's triangles from the distance at
// which all of them fit in the window, with the near and far planes around them; the
// camera's angles stay. False (and nothing changed) when there is no finite corner.
bool frameScene(Scene& s);

// Mouse button: GLUT's button and state codes. Sets the drag mode; a press forgets the last
// pointer position so that the first motion of a drag moves nothing. A turn of the wheel
// (buttons 3 and 4) zooms the orbit instead.
void mouseButton(Scene& s, int button, int state);
// Moves the orbiting eye steps wheel clicks nearer to the centre (fewer than 0: further),
// each a tenth of the distance; the centre stays beyond the near plane and within the far one.
void zoom(Scene& s, int steps);
// Where V puts a light that was never placed by hand: above the framed scene's centre by 1.5
// times its radius, and a quarter of the radius towards the eye.
vector lightAboveScene(const Scene& s);
// Pointer motion with a button held: orbit (left) or move along the view (right).
void mouseMotion(Scene& s, int x, int y);

// What a key asks for beyond changing the scene's switches.
enum class keyAction { none, captureFrame, exportMaps, frameScene, lightToEye };
// The keys a program has beyond the shared switches.
struct keyOptions {
    bool renderModes = true;  // T cycles the render modes
    bool mapExport = true;    // F writes the maps
    bool switchModes = false; // every 360th capture flips render mode 1 <-> 3
    bool framing = false;     // V frames the scene (and moves a light never placed by hand)
    bool lightPlacing = false; // G puts the first light at the eye
};
// Applies one key: A D S L H toggle, T cycles the render mode (when the program has modes),
// C, F, V and G are returned where the program has them. Other keys do nothing.
keyAction pressKey(Scene& s, unsigned char key, const keyOptions& options = keyOptions());

// Where the dragged light of the fixed-camera viewers goes for a pointer position: the
// window spans 2 to -2 in x and y (screen right is world -x), in the plane z = -5.
vector lightPositionForPointer(const Scene& s, int x, int y);
// The three circling lights of the animated viewer at angle a: radius 3 in the x-y, x-z
// and y-z planes.
void circlingLightPositions(double a, vector out[3]);

// Next render mode on T: 1 -> 2 -> 3 -> 1.
int nextRenderMode(int mode);
// One turntable step before a frame: about one degree of azimuth, a fixed elevation.
void advanceTurntable(Scene& s);
