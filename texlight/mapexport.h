#pragma once

#include <string>

class object;

// Writes one texture-space table of obj to a BMP file: the lighting bitmaps (kinds 0-3) as
// they are, the coverage (4) as white and black, normals (5) and positions (6) as colours.
// False (after one error line) when the kind is unknown or the file could not be written.
bool writeMap(object* obj, unsigned kind, const std::string& name);
