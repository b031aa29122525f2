#include "client/Billboard.h"

#include <GL/gl.h>

#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"
#include "client/MVEntryPoint.h"
#include "client/ResourceManager.h"

Billboard::Billboard(std::uint64_t id) : Transform(id), lifetime(1.0f) {
    objectType = kExplosionType;
    // A copy: the explosion keeps facing where the camera looked at this moment.
    orientation = *MVEntryPoint::getInstance()->getCamera().getOrientation();
}

void Billboard::update(float dt) {
    lifetime -= dt;
    if (lifetime < 0.0f) {
        SceneGraph::getInstance()->remove(this);
    }
    Transform::update(dt);
}

void Billboard::draw() {
    glPushMatrix();
    const std::uint32_t texture = ResourceManager::getInstance()->getTexture("BOOOM.png");
    glTranslatef(5, 5, 0);
    glRotatef(180, 0, 0, 1);
    glColor3f(1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex3f(0, 10, 0);
    glTexCoord2f(1, 1);
    glVertex3f(10, 10, 0);
    glTexCoord2f(1, 0);
    glVertex3f(10, 0, 0);
    glTexCoord2f(0, 0);
    glVertex3f(0, 0, 0);
    glEnd();
    glPopMatrix();
}
