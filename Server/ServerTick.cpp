#include "Server/ServerTick.h"

#include <iostream>

#include "Common/ObjectTypes.h"
#include "Common/Platform.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Server/Collision.h"
#include "Server/OutgoingQueues.h"
#include "Server/PacketHandler.h"
#include "Server/ServerConsole.h"

double lastTickSeconds = static_cast<double>(getTickCount()) / 1000.0;
PacketHandler* packetHandler = nullptr;

namespace {

// One full turn of the 32-bit millisecond clock.
constexpr double kClockPeriodSeconds = 4294967.296;

}  // namespace

double tickTimeStep(double nowSeconds, double lastSeconds) {
    double dt = nowSeconds - lastSeconds;
    if (dt < 0.0) {
        dt += kClockPeriodSeconds;
    }
    return dt;
}

void serverTick() {
    const double now = static_cast<double>(getTickCount()) / 1000.0;
    const double dt = tickTimeStep(now, lastTickSeconds);
    lastTickSeconds = now;

    packetHandler->processEvents();

    SceneGraph* world = SceneGraph::getInstance();
    SceneGraph::ObjectList* players = world->getObjectsOfType(kPlayerType);
    SceneGraph::ObjectList* carriers = world->getObjectsOfType(kCarrierType);
    SceneGraph::ObjectList* projectiles = world->getObjectsOfType(kProjectileType);
    const bool hadPlayers = players != nullptr;
    const bool hadProjectiles = projectiles != nullptr;

    collideGroups(players, projectiles);
    collideGroups(carriers, projectiles);
    world->updateAll(static_cast<float>(dt));
    OutgoingQueues::getInstance()->flush();
    world->flushRemovals();
    Statistics::getInstance()->updateRates();

    // The commands see the lists as they were found above; they are looked up again because
    // a group created during the update may have moved the others.
    handleConsoleLines(hadPlayers ? world->getObjectsOfType(kPlayerType) : nullptr,
                       hadProjectiles ? world->getObjectsOfType(kProjectileType) : nullptr,
                       std::cout);
}
