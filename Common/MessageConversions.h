#pragma once
// Between the schema's pose messages and the maths types, component by component by name: the
// schema's orientation lists x, y, z, w, while Quaternion holds w first.

#include "Common/Quaternion.h"
#include "Common/Vec3.h"

namespace Morvik {
class Orientation;
class Position;
}  // namespace Morvik

Quaternion toQuaternion(const Morvik::Orientation& orientation);
Vec3 toVec3(const Morvik::Position& position);

void setPosition(Morvik::Position* out, const Vec3& position);
void setOrientation(Morvik::Orientation* out, const Quaternion& orientation);
