#include "client/Projectile.h"

#include <GL/gl.h>

#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"
#include "client/Render.h"
#include "client/ResourceManager.h"

Projectile::Projectile(std::uint64_t id) : CollisionObject(id), lifetime(20.0f), blueTeam(false) {
    objectType = kProjectileType;
}

void Projectile::update(float dt) {
    Transform::update(dt);
    lifetime -= dt;
    if (lifetime < 0.0f) {
        SceneGraph::getInstance()->remove(this);
    }
    position = shownPosition;
}

void Projectile::draw() {
    glPushMatrix();
    glDisable(GL_TEXTURE_2D);
    setTeamColour(blueTeam);
    glScalef(0.01f, 0.01f, 0.01f);
    ResourceManager::getInstance()->drawModel("shot.obj");
    glEnable(GL_TEXTURE_2D);
    glPopMatrix();
}
