#include "Server/Player.h"

#include "Common/Controls.h"
#include "Common/GameState.h"
#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Common/TcpConnection.h"
#include "Server/ObjectFactory.h"
#include "Server/OutgoingQueues.h"
#include "Server/PlayerKey.h"
#include "Server/Projectile.h"

namespace {

float axis(std::uint32_t mask, std::uint32_t plus, std::uint32_t minus) {
    return ((mask & plus) != 0 ? 1.0f : 0.0f) - ((mask & minus) != 0 ? 1.0f : 0.0f);
}

}  // namespace

Player::Player(int serverId, std::uint32_t counter, bool blueTeam)
    : CollisionObject(serverId, counter),
      blueTeam(blueTeam),
      health(kFullHealth),
      score(0),
      qport(0),
      udpEndpoint(boost::asio::ip::address_v4::any(), 0),
      inputMask(0),
      fireTimer(0) {
    init();
}

void Player::init() {
    fireTimer = 0;
    inputMask = 0;
    if (shapeKind == kNoShape) {
        shapeKind = kSphereShape;
        sphere = new SphereShape{&position, kRadius};
    }
    respawn(false);
    objectType = kPlayerType;
    score = 0;
}

void Player::draw() {}

void Player::update(float dt) {
    applyInput(dt);
    Transform::update(dt);
}

std::int64_t Player::getKey() {
    return playerKey(udpEndpoint.address(), qport);
}

void* Player::getConnectionKey() {
    return connection.get();
}

void Player::applyInput(float dt) {
    // One unit of velocity per axis per tick with controls held; no dt factor. The ship looks
    // along +z with +y up, so the pilot's left is +x.
    const Vec3 thrust(axis(inputMask, controls::kLeft, controls::kRight),
                      axis(inputMask, controls::kUp, controls::kDown),
                      axis(inputMask, controls::kForward, controls::kBack));
    velocity += orientation.rotate(thrust);
    if (velocity.length() > kMaxSpeed) {
        velocity.normalize();
        velocity = velocity * kMaxSpeed;
    }
    position += velocity * dt;

    fireTimer += dt;
    if ((inputMask & controls::kFire) != 0 && fireTimer > kFireInterval) {
        fire();
    }
    // The controls of one ClientUpdate act in exactly one tick.
    inputMask = 0;
}

void Player::fire() {
    Projectile* shot = ObjectFactory::getInstance()->createProjectile();
    shot->velocity = orientation.rotate(Vec3(0, 0, 1)) * kShotSpeed + velocity;
    shot->position = position;
    shot->orientation = orientation;
    shot->ownerId = id;
    shot->blueTeam = blueTeam;

    Morvik::ObjectInfo info;
    info.set_id(shot->id);
    info.set_objecttype(kProjectileType);
    setPosition(info.mutable_position(), shot->position);
    setOrientation(info.mutable_orientation(), shot->orientation);
    Morvik::ProjectileData* data = info.mutable_projectiledata();
    setPosition(data->mutable_velocity(), shot->velocity);
    data->set_blueteam(shot->blueTeam);
    OutgoingQueues::getInstance()->broadcastObjectInfo(info);

    SceneGraph::getInstance()->add(shot);
    fireTimer = 0;
}

void Player::onCollision(CollisionObject* other) {
    if (other->objectType != kProjectileType) {
        return;
    }
    auto* shot = dynamic_cast<Projectile*>(other);
    if (shot == nullptr || shot->ownerId == id) {
        return;
    }
    // The shooter may have left; then nobody scores.
    auto* shooter = dynamic_cast<Player*>(SceneGraph::getInstance()->find(shot->ownerId));
    if (shooter != nullptr && shooter->objectType != kPlayerType) {
        shooter = nullptr;
    }

    health -= kHitDamage;
    if (health <= 0.0f) {
        respawn(true);
        if (shooter != nullptr) {
            if (shooter->blueTeam != blueTeam) {
                shooter->score += 1;
                GameState* state = GameState::getInstance();
                if (shooter->blueTeam) {
                    state->blueTeamScore += 1;
                } else {
                    state->redTeamScore += 1;
                }
            } else {
                shooter->score -= 1;
            }
            shooter->sendObjectInfo();
        }
    }
    sendObjectInfo();
}

void Player::sendObjectInfo() {
    Morvik::ObjectInfo info;
    info.set_id(id);
    info.set_objecttype(kPlayerType);
    setOrientation(info.mutable_orientation(), orientation);
    setPosition(info.mutable_position(), position);
    Morvik::PlayerData* data = info.mutable_playerdata();
    GameState* state = GameState::getInstance();
    data->set_health(health);
    data->set_score(score);
    data->set_redteamscore(state->redTeamScore);
    data->set_blueteamscore(state->blueTeamScore);
    OutgoingQueues::getInstance()->sendObjectInfoTo(info, this);
}

void Player::respawn(bool send) {
    health = kFullHealth;
    velocity = Vec3(0, 0, 0);
    orientation = Quaternion(1, 0, 0, 0);
    fireTimer = 0;
    GameState* state = GameState::getInstance();
    position = blueTeam ? state->getBlueSpawnPosition() : state->getRedSpawnPosition();
    if (send) {
        sendObjectInfo();
    }
}
