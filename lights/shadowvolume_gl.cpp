#include "lights/shadowvolume.h"

#include "lights/clipspace_gl.h"
#include "mesh/polygon.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

namespace {

void sendQuads(const std::vector<quad>& quads)
{
    glBegin(GL_QUADS);
    for (const quad& q : quads)
        for (const vector& c : q.corners)
            glVertex3f(static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z));
    glEnd();
}

void sendCaps(const std::vector<const polygon*>& caps)
{
    // A cap lies on its own lit triangle, which must hide it: pushed further back than the
    // pass pushed that triangle, if it did.
    const GLboolean offset = glIsEnabled(GL_POLYGON_OFFSET_FILL);
    GLfloat factor = 0, units = 0;
    glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &factor);
    glGetFloatv(GL_POLYGON_OFFSET_UNITS, &units);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(offset ? factor + 1.0f : 1.0f, offset ? units + 4.0f : 4.0f);
    glBegin(GL_TRIANGLES);
    for (const polygon* p : caps)
        for (const vector& c : p->position)
            glVertex3f(static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z));
    glEnd();
    glPolygonOffset(factor, units);
    if (!offset)
        glDisable(GL_POLYGON_OFFSET_FILL);
}

// Adds 1 wherever the near plane lies in a volume, before any face is counted.
void countEntries(const std::vector<nearPolygon>& entries)
{
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    const clipSpaceDrawing clipSpace;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    for (const nearPolygon& p : entries) {
        glBegin(GL_POLYGON);
        for (int i = 0; i < p.count; ++i)
            glVertex2d(p.u[i], p.v[i]);
        glEnd();
    }
    glEnable(GL_CULL_FACE);
    if (depthTest)
        glEnable(GL_DEPTH_TEST);
}

void beginCounting()
{
    glEnable(GL_CULL_FACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    glColor3f(0, 0, 0);
    glEnable(GL_STENCIL_TEST);
}

// Counts the volumes into the stencil buffer; with entries and caps, those of a view whose
// near plane lies inside some volume.
void countVolumes(const std::vector<quad>& sides, const std::vector<nearPolygon>* entries,
                  const std::vector<const polygon*>* caps)
{
    beginCounting();
    if (entries)
        countEntries(*entries);

    // Front faces first: GL_DECR stops at 0, so a back face counted before its front face
    // would be lost.
    glCullFace(GL_BACK);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    sendQuads(sides);
    if (caps)
        sendCaps(*caps);

    glCullFace(GL_FRONT);
    glStencilOp(GL_KEEP, GL_KEEP, GL_DECR);
    sendQuads(sides);
    if (caps)
        sendCaps(*caps);

    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
}

} // namespace

void drawShadowQuads(const std::vector<quad>& quads) { countVolumes(quads, nullptr, nullptr); }

void drawShadowVolumesWithCaps(const shadowVolumeSet& volumes, const std::vector<const polygon*>& caps)
{
    countVolumes(volumes.sides, &volumes.entries, &caps);
}

bool currentNearRectangle(nearRectangle& view)
{
    GLdouble model[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return false;
    // Window depth 0 is the near plane.
    bool ok = true;
    auto at = [&](double u, double v) {
        GLdouble x = 0, y = 0, z = 0;
        ok = gluUnProject(viewport[0] + (u + 1) * 0.5 * viewport[2], viewport[1] + (v + 1) * 0.5 * viewport[3], 0,
                          model, projection, viewport, &x, &y, &z) == GL_TRUE && ok;
        return vector(x, y, z);
    };
    view.centre = at(0, 0);
    view.across = (at(1, 0) - at(-1, 0)) * 0.5;
    view.up = (at(0, 1) - at(0, -1)) * 0.5;
    return ok && std::isfinite(dot(view.centre, view.centre) + dot(view.across, view.across) + dot(view.up, view.up));
}

void drawShadowVolumesFrom(vector lightPosition, object** objects, int count)
{
    nearRectangle view;
    if (!currentNearRectangle(view)) {
        drawShadowQuads(buildShadowQuads(objects, count, lightPosition));
        return;
    }
    shadowVolumeSet volumes = buildShadowVolumes(objects, count, lightPosition, view);
    // Without a start count, as before: exact while the near plane is outside every volume.
    if (volumes.entries.empty())
        drawShadowQuads(volumes.sides);
    else
        drawShadowVolumesWithCaps(volumes, shadowCaps(objects, count));
}
