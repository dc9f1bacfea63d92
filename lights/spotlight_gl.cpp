#include "lights/spotlight.h"

#include "core/console.h"
#include "lights/shadowvolume.h"
#include "mesh/object.h"

#include <GL/glut.h>

#include <cmath>
#include <cstdint>
#include <vector>

void spotlight::buildDepthMap(object** objects, int count)
{
    const int width = static_cast<int>(depthMapWidth);
    const int height = static_cast<int>(depthMapHeight);
    const int n = static_cast<int>(depthMapWidth * depthMapHeight);
    depthMap.reset(new float[n > 0 ? n : 0]);

    // The full outer cone; a perspective cannot open to 180 degrees.
    double fov = std::acos(cosOuter) * 57.29577950560105 * 2.0;
    if (fov >= 179.0)
        fov = 179.0;

    glClear(GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPerspective(fov, 1.0, nearDistance, farDistance);
    glViewport(0, 0, width, height);

    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    gluLookAt(position.x, position.y, position.z, position.x + direction.x, position.y + direction.y,
              position.z + direction.z, 0, 1, 0);
    // Taken after the look-at, so that it is the light's view and not the identity.
    glGetDoublev(GL_MODELVIEW_MATRIX, modelviewMatrix.m);

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    for (int i = 0; i < count; ++i) {
        if (!objects || !objects[i])
            continue;
        glPushMatrix();
        glMultMatrixd(objects[i]->transform.m);
        glCallList(objects[i]->meshList);
        glPopMatrix();
    }
    glGetDoublev(GL_PROJECTION_MATRIX, projectionMatrix.m);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glFlush();

    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);

    // Zero-filled: pixels outside the drawable are not written by the read.
    std::vector<uint16_t> depths(static_cast<size_t>(n > 0 ? n : 0), 0);
    glReadBuffer(GL_BACK);
    if (n > 0) {
        // Tightly packed rows whatever the caller's pixel-store settings, so an odd width
        // cannot overrun the array.
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
        glReadPixels(0, 0, width, height, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, depths.data());
        glPopClientAttrib();
    }

    minDepth = 0.0;
    maxDepth = 0.0;

    // The product reads column-major storage, so a * b is the mathematical b * a:
    // this is projection * view, taking a world point to the light's clip space.
    shadowMatrix = modelviewMatrix * projectionMatrix;

    sayText("PROJECTION_MATRIX: " + toString(projectionMatrix) + "\n");
    sayText("MODELVIEW_MATRIX: " + toString(modelviewMatrix) + "\n");
    sayText("SHADOW_MATRIX: " + toString(shadowMatrix) + "\n");

    // 1/65536 rather than 1/65535: the cleared depth reads back as 0.9999847, not 1.
    const float scale = 1.0f / 65536.0f;
    for (int i = 0; i < n; ++i) {
        depthMap[i] = depths[i] * scale;
        if (depthMap[i] < minDepth)
            minDepth = depthMap[i];
        if (depthMap[i] > maxDepth)
            maxDepth = depthMap[i];
    }
}

void spotlight::drawShadowVolumes(object** objects, int count)
{
    drawShadowVolumesFrom(position, objects, count);
}

void spotlight::drawMarker()
{
    const double inv255 = 1.0 / 255.0;
    const double height = std::sin(std::acos(cosInner));
    // A frame whose z axis points back at the light from the centre of the cones' base, so
    // that the cones' apex sits at the light and they open along its direction.
    vector axis = normalised(direction);
    if (axis.x == 0 && axis.y == 0 && axis.z == 0)
        axis = vector(0, 0, 1);
    vector z = -axis;
    vector side = std::fabs(z.y) < 0.9 ? vector(0, 1, 0) : vector(1, 0, 0);
    vector x = normalised(cross(side, z));
    vector y = cross(z, x);
    vector base = position + axis * height;
    const double frame[16] = {x.x, x.y, x.z, 0, y.x, y.y, y.z, 0, z.x, z.y, z.z, 0, base.x, base.y, base.z, 1};

    glDisable(GL_TEXTURE_2D);
    glPushMatrix();
    glMultMatrixd(frame);
    // A wider black cone around the coloured one outlines it. It leaves the depth buffer
    // alone so that the coloured cone inside it still shows from every side.
    glPushAttrib(GL_DEPTH_BUFFER_BIT);
    glDepthMask(GL_FALSE);
    glColor4f(0, 0, 0, 1);
    glutSolidCone(cosInner + 0.1, height, 10, 1);
    glPopAttrib();
    glColor4f(static_cast<float>(colour.red * inv255), static_cast<float>(colour.green * inv255),
              static_cast<float>(colour.blue * inv255), 1.0f);
    glutSolidCone(cosInner, height, 10, 1);
    glPopMatrix();
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
}
