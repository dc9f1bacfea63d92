#include "viewer/passes.h"

#include "mesh/object.h"
#include "pipeline/outlines.h"
#include "texlight/textures.h"
#include "viewer/capture.h"
#include "viewer/input.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <GL/glut.h>

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
        auto* point = dynamic_cast<pointlight*>(l);
        if (!point)
            continue;
        GLfloat position[4] = {static_cast<float>(point->position.x), static_cast<float>(point->position.y),
                               static_cast<float>(point->position.z), 1.0f};
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
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
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
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void lightLoop(object** objects, int count, float darkness)
{
    for (light* l = scene.lights; l; l = l->next) {
        if (scene.shadowsOn == 1) {
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

void updateVisibility(object** objects, int count)
{
    // One hit record of four values at most per object.
    std::vector<GLuint> buffer(4 * static_cast<size_t>(count) + 4);
    glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    for (int i = 0; i < count; ++i) {
        if (objects[i]->pickable != 1)
            continue;
        glLoadName(static_cast<GLuint>(i + 1));
        glCallList(objects[i]->meshList);
        objects[i]->visible = 0;
    }
    glFlush();
    GLint hits = glRenderMode(GL_RENDER);
    for (GLint j = 0; j < hits; ++j) {
        GLuint name = buffer[4 * static_cast<size_t>(j) + 3];
        if (name >= 1 && name <= static_cast<GLuint>(count))
            objects[name - 1]->visible = 1;
    }
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
    lightLoop(objects, count, 1.0f);
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
