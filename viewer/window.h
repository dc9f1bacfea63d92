#pragma once

#include <string>

// Starts GLUT, which takes its own options (such as -display) out of the command line, and
// prints the GLU strings.
void startViewer(int* argc, char** argv);

// Opens the viewers' 720 x 576 double-buffered window with depth and stencil buffers at
// (100, 100). The program ends with status 0 when the window is closed, whether through its
// close button or by destroying it from outside.
void openViewerWindow(const std::string& title);
