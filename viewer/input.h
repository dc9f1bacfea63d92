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
// pointer position so that the first motion of a drag moves nothing.
void mouseButton(Scene& s, int button, int state);
// Pointer motion with a button held: orbit (left) or move along the view (right).
void mouseMotion(Scene& s, int x, int y);

// What a key asks for beyond changing the scene's switches.
enum class keyAction { none, captureFrame, exportMaps, frameScene };
// Applies one key: A D S L H toggle, T cycles the render mode (when the program has modes),
// C, F and V are returned (F only when the program exports maps, V when it frames the scene).
// Other keys do nothing.
keyAction pressKey(Scene& s, unsigned char key, bool renderModes = true, bool mapExport = true,
                   bool framing = false);

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
