#include "lights/pointlight.h"

#include <GL/glut.h>

void pointlight::drawMarker()
{
    const double inv255 = 1.0 / 255.0;
    glDisable(GL_TEXTURE_2D);
    glColor4f(static_cast<float>(colour.red * inv255), static_cast<float>(colour.green * inv255),
              static_cast<float>(colour.blue * inv255), 1.0f);
    glPushMatrix();
    glTranslatef(static_cast<float>(position.x), static_cast<float>(position.y), static_cast<float>(position.z));
    glutSolidSphere(0.5, 10, 10);
    glPopMatrix();
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
}
