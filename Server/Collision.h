#pragma once

#include "Common/CollisionObject.h"
#include "Common/SceneGraph.h"

// Tests every pair (a of A, b of B) and tells both objects of a touching pair, a first.
// Either list may be null.
void collideGroups(SceneGraph::ObjectList* a, SceneGraph::ObjectList* b);

// Contact of two objects' shapes: sphere-sphere and sphere-segment; anything else never touches.
bool intersects(CollisionObject* a, CollisionObject* b);

// Centre distance at most the sum of the radii (compared squared).
bool sphereSphere(const SphereShape& a, const SphereShape& b);

// Contact of a sphere with the segment from start to start + direction.
bool sphereSegment(const Vec3& centre, float radius, const Vec3& start, const Vec3& direction);
