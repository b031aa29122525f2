#include "Server/World.h"

#include "Common/GameState.h"
#include "Common/SceneGraph.h"
#include "Server/TestCube.h"

void setupWorld(TeamCarriers& carriers) {
    GameState* state = GameState::getInstance();
    SceneGraph* world = SceneGraph::getInstance();

    auto* red = new TestCube(false);
    red->position += state->getRedSpawnPosition();
    world->add(red);
    carriers.red = red;

    auto* blue = new TestCube(true);
    blue->position += state->getBlueSpawnPosition();
    world->add(blue);
    carriers.blue = blue;
}
