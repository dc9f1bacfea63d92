#include "viewer/passes.h"

#include "lights/clipspace_gl.h"
#include "mesh/object.h"
#include "pipeline/outlines.h"
#include "texlight/textures.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <GL/glut.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

void openFrame(object** objects, int count)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    gluPerspective(fieldOfView, scene.windowWidth / scene.windowHeight, scene.nearPlane, scene.farPlane);
    glViewport(0, 0, static_cast<int>(scene.windowWidth), static_cast<int>(scene.windowHeight));
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    gluLookAt(scene.eye.x, scene.eye.y, scene.eye.z, scene.centre.x, scene.centre.y, scene.centre.z, 0, 1, 0);
    updateVisibility(objects, count);
}

void positionOpenGLLights()
{
    int i = 0;
    for (light* l = scene.lights; l; l = l->next, ++i) {
        const lightForm f = l->form();
        vector at;
        float w = 1.0f;
        if (auto* point = dynamic_cast<pointlight*>(l)) {
            at = point->position;
        } else if (f.shape == lightForm::directional) {
            at = f.direction;
            w = 0.0f; // OpenGL's directional light: the vector points towards it
        } else {
            continue;
        }
        GLfloat position[4] = {static_cast<float>(at.x), static_cast<float>(at.y), static_cast<float>(at.z), w};
        glEnable(GL_LIGHT0 + i);
        glLightfv(GL_LIGHT0 + i, GL_POSITION, position);
    }
}

// The opening of the two passes lit by OpenGL: untextured, lighting on, lights placed.
void openLitFrame(object** objects, int count)
{
    glDisable(GL_TEXTURE_2D);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_LIGHTING);
    openFrame(objects, count);
    positionOpenGLLights();
}

// Blends black into the pixels whose stencil value is set and clears them again.
void darkenShadowedPixels(float darkness)
{
    // The quad covers the window in clip space itself, so no near plane can cut it away.
    const clipSpaceDrawing clipSpace;
    glColor4f(0, 0, 0, darkness);
    glStencilFunc(GL_NOTEQUAL, 0, ~0u);
    glStencilOp(GL_ZERO, GL_ZERO, GL_ZERO);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_STENCIL_TEST);
    glBegin(GL_QUADS);
    glVertex3f(-1, -1, 0);
    glVertex3f(1, -1, 0);
    glVertex3f(1, 1, 0);
    glVertex3f(-1, 1, 0);
    glEnd();
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
}

void lightLoop(object** objects, int count, float darkness, bool volumes = true)
{
    for (light* l = scene.lights; l; l = l->next) {
        if (volumes && scene.shadowsOn == 1) {
            l->drawShadowVolumes(objects, count);
            darkenShadowedPixels(darkness);
        }
        if (scene.showLights == 1)
            l->drawMarker();
    }
}

void closeFrame(bool cullingOff)
{
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    drawAxes(1.0f, cullingOff);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    if (scene.captureRequested) {
        scene.captureRequested = false;
        captureFrame(scene, scene.captureSwitchesModes);
    }
    glutSwapBuffers();
}

void drawTextureSpaceObjects(object** objects, int count)
{
    glColor3f(1, 1, 1);
    lightingTerms terms{scene.ambientTerm, scene.diffuseTerm, scene.specularTerm};
    for (int i = 0; i < count; ++i)
        drawTextureSpaceLit(objects[i], terms, scene.lights, scene.eye, scene.ambientColour);
    glFlush();
}

} // namespace

namespace {

// Corner k of triangle i as the mesh list sends it.
void listCorner(const object& obj, int i, int k, float out[3])
{
    const vector& v = obj.polygons[static_cast<size_t>(i)].position[k];
    out[0] = static_cast<float>(v.x);
    out[1] = static_cast<float>(v.y);
    out[2] = static_cast<float>(v.z);
}

// A triangle of the mesh that the current view very likely selects: a sample of the
// triangles is projected, and the first that lies well inside the view volume, with an area
// on screen and the side that face culling keeps, is taken; -1 when none of the sample is.
int likelySelectedTriangle(const object& obj, const double* clipFromObject, int keepSide)
{
    const int count = std::min(obj.polygonCount, static_cast<int>(obj.polygons.size()));
    if (count <= 0 || keepSide == 0)
        return -1;
    const int step = std::max(1, count / 256);
    for (int i = (count % step) / 2; i < count; i += step) {
        double x[3], y[3];
        bool inside = true;
        for (int k = 0; k < 3 && inside; ++k) {
            float corner[3];
            listCorner(obj, i, k, corner);
            double c[4];
            for (int r = 0; r < 4; ++r)
                c[r] = clipFromObject[r] * corner[0] + clipFromObject[4 + r] * corner[1] +
                       clipFromObject[8 + r] * corner[2] + clipFromObject[12 + r];
            const double limit = 0.9 * c[3];
            inside = c[3] > 0 && std::fabs(c[0]) < limit && std::fabs(c[1]) < limit && std::fabs(c[2]) < limit;
            x[k] = c[0] / c[3];
            y[k] = c[1] / c[3];
        }
        const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
        if (inside && (keepSide == 2 ? std::fabs(area) : area * keepSide) > 1e-6)
            return i;
    }
    return -1;
}

// Which winding in window space face culling keeps: 1 counter-clockwise, -1 clockwise, 2
// either, 0 none.
int keptWinding()
{
    if (!glIsEnabled(GL_CULL_FACE))
        return 2;
    GLint mode = GL_BACK, front = GL_CCW;
    glGetIntegerv(GL_CULL_FACE_MODE, &mode);
    glGetIntegerv(GL_FRONT_FACE, &front);
    if (mode == GL_FRONT_AND_BACK)
        return 0;
    const int frontWinding = front == GL_CW ? -1 : 1;
    return mode == GL_BACK ? frontWinding : -frontWinding;
}

// Runs selection over the given triangles (-1: an object's whole mesh list) of the pickable
// objects that have one, and sets visible = 1 for each object that had a hit.
void selectHits(object** objects, int count, const std::vector<int>& triangle)
{
    // One hit record of four values at most per object.
    std::vector<GLuint> buffer(4 * static_cast<size_t>(count) + 4);
    glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    for (int i = 0; i < count; ++i) {
        if (triangle[i] == -2)
            continue;
        glLoadName(static_cast<GLuint>(i + 1));
        if (triangle[i] == -1) {
            glCallList(objects[i]->meshList);
            continue;
        }
        glBegin(GL_TRIANGLES);
        for (int k = 0; k < 3; ++k) {
            float corner[3];
            listCorner(*objects[i], triangle[i], k, corner);
            glVertex3f(corner[0], corner[1], corner[2]);
        }
        glEnd();
    }
    glFlush();
    GLint hits = glRenderMode(GL_RENDER);
    for (GLint j = 0; j < hits; ++j) {
        GLuint name = buffer[4 * static_cast<size_t>(j) + 3];
        if (name >= 1 && name <= static_cast<GLuint>(count))
            objects[name - 1]->visible = 1;
    }
}

} // namespace

void updateVisibility(object** objects, int count)
{
    // An object is visible when selection hits any triangle of its mesh list. One triangle
    // that the view very likely shows is tried first, sent exactly as the list sends it, so a
    // hit on it is a hit the whole list would give; only the objects without one go through
    // selection with all their triangles.
    double modelview[16], projection[16], clipFromObject[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += projection[4 * k + r] * modelview[4 * c + k];
            clipFromObject[4 * c + r] = sum;
        }
    const int keepSide = keptWinding();
    std::vector<int> first(static_cast<size_t>(count), -2), rest(static_cast<size_t>(count), -2);
    bool tried = false;
    for (int i = 0; i < count; ++i) {
        if (objects[i]->pickable != 1)
            continue;
        objects[i]->visible = 0;
        first[i] = likelySelectedTriangle(*objects[i], clipFromObject, keepSide);
        if (first[i] >= 0)
            tried = true;
        else
            first[i] = -2;
    }
    if (tried)
        selectHits(objects, count, first);
    bool left = false;
    for (int i = 0; i < count; ++i)
        if (objects[i]->pickable == 1 && objects[i]->visible != 1) {
            rest[i] = -1;
            left = true;
        }
    if (left || !tried)
        selectHits(objects, count, rest);
}

void drawAxes(float length, bool cullingOff)
{
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    if (cullingOff)
        glDisable(GL_CULL_FACE);
    glBegin(GL_LINES);
    glColor3f(length, 0, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(length, 0, 0);
    glColor3f(0, length, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(0, length, 0);
    glColor3f(0, 0, length);
    glVertex3f(0, 0, 0);
    glVertex3f(0, 0, length);
    glEnd();
    if (cullingOff)
        glEnable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
}

void renderMaterialPass(object** objects, int count)
{
    openLitFrame(objects, count);
    for (int i = 0; i < count; ++i)
        drawWithMaterials(objects[i]);
    glDisable(GL_LIGHTING);
    lightLoop(objects, count, 0.5f);
    closeFrame(false);
}

void renderTextureSpacePass(object** objects, int count)
{
    glDisable(GL_LIGHTING);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    openFrame(objects, count);
    drawTextureSpaceObjects(objects, count);
    // Lightmaps baked with traced shadows already hold them.
    lightLoop(objects, count, 1.0f, !scene.tracing.shadows);
    closeFrame(false);
}

void renderFixedViewPass(object** objects, int count, float shadowDarkness)
{
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    openFrame(objects, count);
    drawTextureSpaceObjects(objects, count);
    lightLoop(objects, count, shadowDarkness);
    closeFrame(true);
}

void renderOutlinePass(object** objects, int count)
{
    openLitFrame(objects, count);
    for (int i = 0; i < count; ++i)
        drawLitWithOutlines(objects[i], scene.eye, scene.lights);
    lightLoop(objects, count, 0.5f);
    closeFrame(false);
}
