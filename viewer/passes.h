#pragma once

class object;

// One complete frame each, swapped to the screen. They read the global scene's camera,
// lights and switches.
void renderMaterialPass(object** objects, int count);    // OpenGL lighting, material colours
void renderTextureSpacePass(object** objects, int count); // baked lightmaps, lighting off
void renderOutlinePass(object** objects, int count);     // lit, with sharp and silhouette edges

// The texture-space pass of the fixed-camera viewers: culling off while the objects are drawn
// and the given darkness for shadows.
void renderFixedViewPass(object** objects, int count, float shadowDarkness);

// Marks which pickable objects have any primitive inside the current view volume.
void updateVisibility(object** objects, int count);

// Red, green and blue axes from the origin, drawn over everything. With cullingOff the face
// culling is switched off for the lines and on again after them.
void drawAxes(float length, bool cullingOff = false);
