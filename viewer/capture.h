#pragma once

#include <string>

struct Scene;

// "frame%04d.bmp" for the given number.
std::string frameName(int number);
// Writes the frame drawn in the back buffer to the next numbered frame file and advances the counter; with
// switchModes, every 360th capture also flips render mode 1 <-> 3. A frame that cannot be
// written prints its error only and is not counted.
void captureFrame(Scene& s, bool switchModes);
// Advances the frame counter as a capture does (the mode switch included when asked).
void countCapture(Scene& s, bool switchModes);
// Writes six maps of every object: diffuse, ambient, specular, alpha, normals, positions, as
// "diffuse%02d.bmp" and so on for object %02d, into folder (the working directory when empty).
// Returns how many could not be written.
int exportMaps(const Scene& s, const std::string& folder = std::string());
