#include "Server/Collision.h"

namespace {

float dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

bool sphereAgainstSegment(CollisionObject* round, CollisionObject* line) {
    // The segment's direction lives in object space; turn it with the object.
    const Vec3 direction = line->orientation.rotate(line->localDirection);
    return sphereSegment(*round->sphere->centre, round->sphere->radius, *line->segment->start,
                         direction);
}

}  // namespace

void collideGroups(SceneGraph::ObjectList* a, SceneGraph::ObjectList* b) {
    if (a == nullptr || b == nullptr) {
        return;
    }
    // Removals are deferred, so neither list changes during the pass.
    for (std::size_t i = 0; i < a->size(); ++i) {
        auto* first = dynamic_cast<CollisionObject*>((*a)[i]);
        if (first == nullptr) {
            continue;
        }
        for (std::size_t j = 0; j < b->size(); ++j) {
            auto* second = dynamic_cast<CollisionObject*>((*b)[j]);
            if (second == nullptr || !intersects(first, second)) {
                continue;
            }
            first->onCollision(second);
            second->onCollision(first);
        }
    }
}

bool intersects(CollisionObject* a, CollisionObject* b) {
    if (a->shapeKind == 1 && b->shapeKind == 1 && a->sphere != nullptr && b->sphere != nullptr) {
        return sphereSphere(*a->sphere, *b->sphere);
    }
    if (a->shapeKind == 1 && b->shapeKind == 2 && a->sphere != nullptr && b->segment != nullptr) {
        return sphereAgainstSegment(a, b);
    }
    if (a->shapeKind == 2 && b->shapeKind == 1 && a->segment != nullptr && b->sphere != nullptr) {
        return sphereAgainstSegment(b, a);
    }
    return false;
}

bool sphereSphere(const SphereShape& a, const SphereShape& b) {
    const Vec3 d = *a.centre - *b.centre;
    const float reach = a.radius + b.radius;
    return d.x * d.x + d.y * d.y + d.z * d.z <= reach * reach;
}

bool sphereSegment(const Vec3& centre, float radius, const Vec3& start, const Vec3& direction) {
    // Closest point of the segment to the centre: project, then clamp to the segment's ends.
    const float lengthSquared = dot(direction, direction);
    float t = 0.0f;
    if (lengthSquared > 0.0f) {
        t = dot(centre - start, direction) / lengthSquared;
        if (t < 0.0f) {
            t = 0.0f;
        } else if (t > 1.0f) {
            t = 1.0f;
        }
    }
    const Vec3 offset = centre - (start + direction * t);
    return dot(offset, offset) <= radius * radius;
}
