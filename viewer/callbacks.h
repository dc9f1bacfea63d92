#pragma once

// GLUT callbacks the viewers share; each program registers them or calls them from its own.

// Stores the new client size in the scene and asks for a redraw (the passes set the viewport).
void reshapeWindow(int width, int height);

#include "viewer/input.h"

// One key: the switches of the scene, and frame capture (C), map export (F), framing the
// scene (V) or the first light to the eye (G) where the program has them. C asks for a redraw
// whose frame is captured. A light moved by V or G takes the baked lightmaps with it.
void viewerKey(unsigned char key, const keyOptions& options);
