#include "Common/ObjectTypes.h"
#include "Server/ObjectFactory.h"
#include "Server/TestCube.h"
#include "Server/World.h"
#include "ServerTestSupport.h"

using namespace servertest;

class ObjectFactoryTest : public ServerWorldTest {};

TEST_F(ObjectFactoryTest, PlayersAndShotsDrawFromOneCounter) {
    ObjectFactory* factory = ObjectFactory::getInstance();
    CollisionObject* first = factory->createType(0);
    CollisionObject* shot = factory->createType(1);
    CollisionObject* second = factory->createType(0);
    const std::uint64_t high = std::uint64_t{1} << 32;
    EXPECT_EQ(first->id, high | 2);
    EXPECT_EQ(shot->id, high | 3);
    EXPECT_EQ(second->id, high | 4);
    EXPECT_EQ(first->objectType, 0);
    EXPECT_EQ(shot->objectType, 1);
    EXPECT_NE(dynamic_cast<Projectile*>(shot), nullptr);
    EXPECT_EQ(factory->counter, 4u);
    delete first;
    delete shot;
    delete second;
}

TEST_F(ObjectFactoryTest, TheServerIdFillsTheHighWord) {
    ObjectFactory* factory = ObjectFactory::getInstance();
    factory->serverId = 42;
    factory->counter = 0xFFFFFFF0u;
    CollisionObject* object = factory->createType(1);
    EXPECT_EQ(object->id, (std::uint64_t{42} << 32) | 0xFFFFFFF1u);
    delete object;
}

TEST_F(ObjectFactoryTest, ANewPlayerIsReadyAtItsSpawnPoint) {
    auto* player = dynamic_cast<Player*>(ObjectFactory::getInstance()->createType(0));
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(player->blueTeam);
    EXPECT_EQ(player->health, 100.0f);
    EXPECT_EQ(player->score, 0);
    EXPECT_EQ(player->inputMask, 0u);
    EXPECT_EQ(player->fireTimer, 0.0f);
    EXPECT_TRUE(player->name.empty());
    EXPECT_EQ(player->position.x, 500.0f);  // red, "point" spawns
    ASSERT_EQ(player->shapeKind, kSphereShape);
    EXPECT_EQ(player->sphere->radius, 4.0f);
    EXPECT_EQ(player->sphere->centre, &player->position);
    EXPECT_EQ(player->getConnectionKey(), nullptr);
    EXPECT_TRUE(player->udpEndpoint.address().is_v4());
    EXPECT_TRUE(player->udpEndpoint.address().is_unspecified());
    EXPECT_EQ(player->udpEndpoint.port(), 0);
    // Nothing is sent for a player that only now exists.
    EXPECT_TRUE(OutgoingQueues::getInstance()->tcpQueues.empty());
    delete player;
}

TEST_F(ObjectFactoryTest, TeamsAlternateInOrderOfCreationWhoeverLeft) {
    Player* players[4];
    for (auto& player : players) {
        player = joinPlayer();
    }
    EXPECT_FALSE(players[0]->blueTeam);
    EXPECT_TRUE(players[1]->blueTeam);
    EXPECT_FALSE(players[2]->blueTeam);
    EXPECT_TRUE(players[3]->blueTeam);
    SceneGraph::getInstance()->remove(players[1]);
    SceneGraph::getInstance()->flushRemovals();
    EXPECT_FALSE(joinPlayer()->blueTeam);
}

TEST_F(ObjectFactoryTest, AnUnknownTypeIsReportedAndChangesNothing) {
    ObjectFactory* factory = ObjectFactory::getInstance();
    joinPlayer();  // next is blue
    const std::uint32_t counter = factory->counter;
    testing::internal::CaptureStdout();
    CollisionObject* object = factory->createType(2);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(output, "Error creating type of 2");
    EXPECT_EQ(factory->counter, counter);
    EXPECT_TRUE(factory->nextBlueTeam);

    testing::internal::CaptureStdout();
    EXPECT_EQ(factory->createType(-3), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error creating type of -3");
    EXPECT_TRUE(joinPlayer()->blueTeam);
}

TEST_F(ObjectFactoryTest, TheCarriersStandAtTheTeamsPointSpawns) {
    TeamCarriers carriers{};
    setupWorld(carriers);
    ASSERT_NE(carriers.red, nullptr);
    ASSERT_NE(carriers.blue, nullptr);
    EXPECT_FALSE(carriers.red->blueTeam);
    EXPECT_TRUE(carriers.blue->blueTeam);
    EXPECT_EQ(carriers.red->position.x, 500.0f);
    EXPECT_EQ(carriers.red->position.y, 0.0f);
    EXPECT_EQ(carriers.blue->position.x, -500.0f);
    for (TestCube* carrier : {carriers.red, carriers.blue}) {
        EXPECT_EQ(carrier->id, 0u);
        EXPECT_EQ(carrier->objectType, 3);
        ASSERT_EQ(carrier->shapeKind, kSphereShape);
        EXPECT_EQ(carrier->sphere->radius, 40.0f);
        EXPECT_EQ(carrier->parent, SceneGraph::getInstance());
    }
    SceneGraph::ObjectList* group = SceneGraph::getInstance()->getObjectsOfType(kCarrierType);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->size(), 2u);
    EXPECT_EQ((*group)[0], carriers.red);
    EXPECT_EQ((*group)[1], carriers.blue);
    // Carriers never move.
    SceneGraph::getInstance()->updateAll(1.0f);
    EXPECT_EQ(carriers.red->position.x, 500.0f);
}

TEST_F(ObjectFactoryTest, UnderEvenSpawnsEachCarrierTakesItsTeamsFirstCell) {
    GameState* state = GameState::getInstance();
    state->spawnType = GameState::even;
    TeamCarriers carriers{};
    setupWorld(carriers);
    EXPECT_EQ(state->redSpawnIndex, 3);
    EXPECT_EQ(state->blueSpawnIndex, 2);
    // No players yet: one cell, the lower corner of the central box.
    EXPECT_EQ(carriers.red->position.x, -250.0f);
    EXPECT_EQ(carriers.blue->position.z, -100.0f);
}
