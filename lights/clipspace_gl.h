#pragma once

#include <GL/gl.h>

// For its lifetime, draws in clip space itself: identity projection and model-view, so no
// near plane can cut away what is drawn. The frame's matrices come back afterwards, with
// the model-view the current mode again.
class clipSpaceDrawing {
public:
    clipSpaceDrawing()
    {
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
    }
    ~clipSpaceDrawing()
    {
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
    }
    clipSpaceDrawing(const clipSpaceDrawing&) = delete;
    clipSpaceDrawing& operator=(const clipSpaceDrawing&) = delete;
};
