#include "lights/shadowvolume.h"

#include <GL/gl.h>

namespace {

void sendQuads(const std::vector<quad>& quads)
{
    glBegin(GL_QUADS);
    for (const quad& q : quads)
        for (const vector& c : q.corners)
            glVertex3f(static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z));
    glEnd();
}

} // namespace

void drawShadowQuads(const std::vector<quad>& quads)
{
    glEnable(GL_CULL_FACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    glColor3f(0, 0, 0);
    glEnable(GL_STENCIL_TEST);

    // Front faces first: GL_DECR stops at 0, so a back face counted before its front face
    // would be lost.
    glCullFace(GL_BACK);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    sendQuads(quads);

    glCullFace(GL_FRONT);
    glStencilOp(GL_KEEP, GL_KEEP, GL_DECR);
    sendQuads(quads);

    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
}

void drawShadowVolumesFrom(vector lightPosition, object** objects, int count)
{
    drawShadowQuads(buildShadowQuads(objects, count, lightPosition));
}
