#pragma once

// What the fixed-camera viewers share: the same window, set-up order and scene file, with
// their own lights and callbacks.

#include "viewer/scene.h"

#include <functional>

// Prints the GLU strings and opens the 720 x 576 window titled with the scene's name; the
// command line only goes to GLUT.
void openFixedViewWindow(int* argc, char** argv);

// The scene every fixed-camera viewer shows, from the working directory.
extern const char* const fixedViewScene;

// True when "--help" or "-h" stands anywhere on the command line: these programs take no
// other arguments, so it cannot be a file name.
bool asksForHelp(int argc, char** argv);

// True when the segment from p along d is blocked by a polygon of the scene's objects.
bool blockedInScene(vector d, vector p);
