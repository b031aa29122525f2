#include "Server/Projectile.h"

#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Server/OutgoingQueues.h"
#include "Server/TestCube.h"

Projectile::Projectile(int serverId, std::uint32_t counter)
    : CollisionObject(serverId, counter), ownerId(0), blueTeam(false), lifetime(kLifetime) {
    // The announcing ObjectInfo carries the whole path; a shot is never updated.
    networked = false;
    if (shapeKind == 0) {
        shapeKind = 1;
        sphere = new SphereShape{&position, kRadius};
    }
    objectType = 1;
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
    if (other->objectType == 0) {
        destroy();
    }
    // A shot passes through its own team's carrier.
    if (other->objectType == 3) {
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
