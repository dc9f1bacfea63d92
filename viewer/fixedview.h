#pragma once

// What the fixed-camera viewers share: the same window, set-up order and scene file, with
// their own lights and callbacks.

#include "viewer/scene.h"
#include "viewer/scenefile.h"

// The scene a fixed-camera viewer shows when its command line names none.
extern const char* const fixedViewScene;

// Opens the 720 x 576 window on the scene file the command line names (fixedViewScene when it
// names none), titled with it, and sets the scene up with the program's lights. False, before
// any window opens when the file cannot be read, after the lines that say why when the scene
// gives no object to show.
bool openFixedViewScene(int* argc, char** argv, const sceneChoices& choices);

// True when "--help" or "-h" stands anywhere on the command line: no scene file is named so.
bool asksForHelp(int argc, char** argv);

// True when the segment from p along d is blocked by a polygon of the scene's objects.
bool blockedInScene(vector d, vector p);
