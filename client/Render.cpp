#include "client/Render.h"

#include <GL/gl.h>

#include "Common/Matrix.h"
#include "Common/Transform.h"

void render(Transform* object) {
    glPushMatrix();
    applyGLTransform(object);
    object->draw();
    for (Transform* child : object->children) {
        render(child);
    }
    glPopMatrix();
}

void applyGLTransform(Transform* object) {
    glScalef(object->scale.x, object->scale.y, object->scale.z);
    glTranslatef(object->position.x, object->position.y, object->position.z);
    const Matrix4 rotation(object->orientation.toMatrix3());
    glMultMatrixf(rotation.m);
}

void translate(Transform* object, const Vec3& v) {
    object->position = object->position + v;
}

void setTeamColour(bool blueTeam) {
    if (blueTeam) {
        glColor3f(0, 0, 1);
    } else {
        glColor3f(1, 0, 0);
    }
}
