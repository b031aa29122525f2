#include "client/TestCube.h"

#include <GL/gl.h>

#include "Common/ObjectTypes.h"
#include "client/Render.h"
#include "client/ResourceManager.h"

TestCube::TestCube(std::uint64_t id, bool blueTeam) : CollisionObject(id), blueTeam(blueTeam) {
    objectType = kCarrierType;
    ResourceManager* resources = ResourceManager::getInstance();
    resources->preloadTexture("carrier-texture-white.png");
    resources->preloadModel("carrier.obj");
}

void TestCube::update(float) {}

void TestCube::draw() {
    ResourceManager* resources = ResourceManager::getInstance();
    glPushMatrix();
    setTeamColour(blueTeam);
    glTranslatef(0, -13, -130);
    glBindTexture(GL_TEXTURE_2D, resources->getTexture("carrier-texture-white.png"));
    resources->drawModel("carrier.obj");
    glColor3f(1, 1, 1);
    glPopMatrix();
}
