#include "Server/Projectile.h"

#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Server/OutgoingQueues.h"
#include "Server/TestCube.h"

Projectile::Projectile(int serverId, std::uint32_t counter)
    : CollisionObject(serverId, counter), ownerId(0), blueTeam(false), lifetime(kLifetime) {
    // The announcing ObjectInfo carries the whole path; a shot is never updated.
    networked = false;
    if (shapeKind == kNoShape) {
        shapeKind = kSphereShape;
        sphere = new SphereShape{&position, kRadius};
    }
    objectType = kProjectileType;
}

void Projectile::draw() {}

void Projectile::update(float dt) {
    Transform::update(dt);
    lifetime -= dt;
    if (lifetime < 0.0f) {
        // Each client expires its own copy after the same time; nothing to send.
        SceneGraph::getInstance()->remove(this);
    } else {
        position += velocity * dt;
    }
}

void Projectile::onCollision(CollisionObject* other) {
    if (other->id == ownerId) {
        return;
    }
    if (other->objectType == kPlayerType) {
        destroy();
    }
    // A shot passes through its own team's carrier.
    if (other->objectType == kCarrierType) {
        auto* carrier = dynamic_cast<TestCube*>(other);
        if (carrier != nullptr && carrier->blueTeam != blueTeam) {
            destroy();
        }
    }
}

void Projectile::destroy() {
    SceneGraph::getInstance()->remove(this);
    Morvik::ObjectDestroy destroy;
    destroy.set_id(id);
    OutgoingQueues::getInstance()->broadcastObjectDestroy(destroy, objectType);
}
