#pragma once

// GLUT callbacks the viewers share; each program registers them or calls them from its own.

// Stores the new client size in the scene and asks for a redraw (the passes set the viewport).
void reshapeWindow(int width, int height);

// One key: the switches of the scene, and frame capture (C), map export (F) or framing the
// scene (V) where the program has them. C asks for a redraw whose frame is captured;
// switchModes: every 360th capture flips render mode 1 <-> 3.
void viewerKey(unsigned char key, bool renderModes, bool mapExport, bool switchModes, bool framing = false);
