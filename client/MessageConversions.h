#pragma once

#include "Common/Quaternion.h"
#include "Common/Vec3.h"

namespace Morvik {
class Orientation;
class Position;
}  // namespace Morvik

Quaternion toQuaternion(const Morvik::Orientation& orientation);
Vec3 toVec3(const Morvik::Position& position);
