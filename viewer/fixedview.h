#pragma once

// What the fixed-camera viewers share: the same window, set-up order and scene file, with
// their own lights and callbacks.

#include "viewer/programs.h"
#include "viewer/scene.h"
#include "viewer/scenefile.h"

// The scene a fixed-camera viewer shows when its command line names none.
extern const char* const fixedViewScene;

// A fixed-camera viewer: its name, its usage paragraph from where the viewers' words part,
// the lights its name chooses and its GLUT callbacks (motion and idle may be null).
struct fixedViewProgram {
    const char* name;
    const char* usage;
    viewerLights* lights;
    void (*display)();
    void (*keyboard)(unsigned char, int, int);
    void (*motion)(int, int);
    void (*idle)();
};

// Prints the usage when "--help" or "-h" stands anywhere on the command line (before GLUT,
// which needs a display). Otherwise opens the 720 x 576 window on the scene file the command
// line names (fixedViewScene when it names none), titled with it, sets the scene up and runs
// GLUT's loop. Status 1, before any window opens when the file cannot be read, after the
// lines that say why when the scene gives no object to show.
int runFixedView(int argc, char** argv, const fixedViewProgram& program);

// True when the segment from p along d is blocked by a polygon of the scene's objects.
bool blockedInScene(vector d, vector p);
