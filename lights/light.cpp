#include "lights/light.h"

// A plain light has no position or colour of its own to give: neutral results.
vector light::toLight(vector) { return vector(); }
::colour light::illumination(vector) { return ::colour(0, 0, 0, 255); }
void light::setPosition(vector) {}
void light::setDirection(vector) {}
void light::setRange(double) {}
void light::buildDepthMap(object**, int) {}
void light::drawShadowVolumes(object**, int) {}
void light::drawMarker() {}
lightForm light::form() const { return lightForm(); }
