#include "pipeline/outlines.h"

#include "mesh/object.h"

#include <GL/gl.h>

#include <algorithm>

namespace {

void materialColour(const object* obj, const texture& t, float out[4])
{
    const double inv255 = 1.0 / 255.0;
    colour c = obj->colourAt(t, 0, 0);
    out[0] = static_cast<float>(c.red * inv255);
    out[1] = static_cast<float>(c.green * inv255);
    out[2] = static_cast<float>(c.blue * inv255);
    out[3] = 1.0f;
}

void vertex(const vector& v)
{
    glVertex3f(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}

} // namespace

void drawLitWithOutlines(object* obj, vector eye, light* lights)
{
    if (!obj)
        return;
    float diffuse[4], ambient[4], specular[4];
    materialColour(obj, obj->diffuseTexture, diffuse);
    materialColour(obj, obj->ambientTexture, ambient);
    materialColour(obj, obj->specularTexture, specular);

    obj->markFacing(eye);

    glShadeModel(GL_SMOOTH);
    // Pushes the filled triangles back so the outlines on them win the GL_LEQUAL depth test.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 2.0f);
    glDisable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);

    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glColor3fv(diffuse);

    // Immediate mode, not the display list: the normals change with the lights every frame.
    // Skipping the polygons facing away takes the place of face culling.
    const int polygonCount = std::min(obj->polygonCount, static_cast<int>(obj->polygons.size()));
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < polygonCount; ++i) {
        const polygon& poly = obj->polygons[i];
        if (poly.facing != 1)
            continue;
        std::array<vector, 3> bent = bentNormals(poly, lights);
        for (int k = 0; k < 3; ++k) {
            glNormal3f(static_cast<float>(bent[k].x), static_cast<float>(bent[k].y),
                       static_cast<float>(bent[k].z));
            vertex(poly.position[k]);
        }
    }
    glEnd();
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);

    const long double third = 1.0L / 3.0L;
    glColor3f(static_cast<float>(diffuse[0] * third), static_cast<float>(diffuse[1] * third),
              static_cast<float>(diffuse[2] * third));
    glLineWidth(2.0f);
    glDepthFunc(GL_LEQUAL);
    glBegin(GL_LINES);
    for (int i : outlineEdges(*obj)) {
        vertex(obj->edges[i].start);
        vertex(obj->edges[i].end);
    }
    glEnd();
    glEnable(GL_CULL_FACE);
}
