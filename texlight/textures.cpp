#include "texlight/textures.h"

#include "core/bitmap.h"
#include "mesh/object.h"

#include <GL/gl.h>

namespace {

void materialColour(const object* obj, const texture& t, float out[4])
{
    const float inv255 = 1.0f / 255.0f;
    colour c = obj->colourAt(t, 0, 0);
    out[0] = c.red * inv255;
    out[1] = c.green * inv255;
    out[2] = c.blue * inv255;
    out[3] = 1.0f;
}

} // namespace

void uploadTexture(const bitmap& image)
{
    // Rows are tightly packed; the default alignment of 4 would skew odd widths.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, image.width, image.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 image.pixels.get());
}

void uploadTextureRows(const bitmap& image, int first, int end)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const size_t rowBytes = static_cast<size_t>(image.width) * image.bytesPerPixel;
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, first, image.width, end - first, GL_RGB, GL_UNSIGNED_BYTE,
                    image.pixels.get() + rowBytes * static_cast<size_t>(first));
}

unsigned int createTexture(const bitmap& image, int wrapMode)
{
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrapMode);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrapMode);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    uploadTexture(image);
    return id;
}

unsigned int compileTriangleList(const polygon* polys, int count)
{
    GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) {
            const polygon& p = polys[i];
            glNormal3f(static_cast<float>(p.normal[k].x), static_cast<float>(p.normal[k].y),
                       static_cast<float>(p.normal[k].z));
            glTexCoord2f(static_cast<float>(p.texCoord[k].x), static_cast<float>(p.texCoord[k].y));
            glVertex3f(static_cast<float>(p.position[k].x), static_cast<float>(p.position[k].y),
                       static_cast<float>(p.position[k].z));
        }
    glEnd();
    glEndList();
    return list;
}

void relightTexture(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient, bool whole)
{
    const changedRows changed = relight(obj, terms, lights, eye, ambient, whole);
    if (changed.first < changed.end)
        uploadTextureRows(*obj->finalBitmap, changed.first, changed.end);
}

void drawTextureSpaceLit(object* obj, lightingTerms terms, light* lights, vector eye, colour ambient)
{
    if (obj->pickable != 1 || obj->visible != 1)
        return;
    glPushMatrix();
    glMultMatrixd(obj->transform.m);
    obj->markFacing(eye);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj->lightmapTextureId);
    if (terms.ambient == 1 || terms.diffuse == 1 || terms.specular == 1) {
        // The texture holds the lightmap as it was before, so only rows that changed are sent.
        relightTexture(obj, terms, lights, eye, ambient, false);
    }
    glCallList(obj->shadingList);
    glPopMatrix();
}

void drawWithMaterials(object* obj)
{
    if (obj->pickable != 1 || obj->visible != 1)
        return;
    glPushMatrix();
    glMultMatrixd(obj->transform.m);
    float diffuse[4], ambient[4], specular[4];
    materialColour(obj, obj->diffuseTexture, diffuse);
    materialColour(obj, obj->ambientTexture, ambient);
    materialColour(obj, obj->specularTexture, specular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, static_cast<float>(obj->specularCoefficient));
    if (!obj->colourMap) {
        glDisable(GL_TEXTURE_2D);
    } else {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, obj->colourTextureId);
    }
    glCallList(obj->meshList);
    glPopMatrix();
}
