#include "Server/ObjectFactory.h"

#include "Common/ConsoleLog.h"
#include "Common/ObjectTypes.h"
#include "Server/Player.h"
#include "Server/Projectile.h"

ObjectFactory::ObjectFactory() : serverId(1), counter(1), nextBlueTeam(false) {}

ObjectFactory* ObjectFactory::getInstance() {
    static ObjectFactory* instance = new ObjectFactory();
    return instance;
}

CollisionObject* ObjectFactory::createType(int type) {
    switch (type) {
        case kPlayerType:
            return createPlayer();
        case kProjectileType:
            return createProjectile();
        default:
            consoleLog("Error creating type of %d", type);
            return nullptr;
    }
}

Player* ObjectFactory::createPlayer() {
    ++counter;
    auto* player = new Player(serverId, counter, nextBlueTeam);
    player->inputMask = 0;
    // Teams alternate in order of creation, whoever has left since.
    nextBlueTeam = !nextBlueTeam;
    return player;
}

Projectile* ObjectFactory::createProjectile() {
    ++counter;
    return new Projectile(serverId, counter);
}

void ObjectFactory::resetForTesting() {
    serverId = 1;
    counter = 1;
    nextBlueTeam = false;
}
