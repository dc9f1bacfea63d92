#pragma once

struct Scene;

// Eye on a sphere of radius 10 about the centre, from the camera's azimuth and elevation.
void updateEye(Scene& s);

// Mouse button: GLUT's button and state codes. Sets the drag mode; a press forgets the last
// pointer position so that the first motion of a drag moves nothing.
void mouseButton(Scene& s, int button, int state);
// Pointer motion with a button held: orbit (left) or move along the view (right).
void mouseMotion(Scene& s, int x, int y);

// What a key asks for beyond changing the scene's switches.
enum class keyAction { none, captureFrame, exportMaps };
// Applies one key of marlin's keyboard (A D S L H T toggle or cycle; C and F are returned).
keyAction pressKey(Scene& s, unsigned char key);

// Next render mode on T: 1 -> 2 -> 3 -> 1.
int nextRenderMode(int mode);
// One turntable step before a frame: about one degree of azimuth, a fixed elevation.
void advanceTurntable(Scene& s);
