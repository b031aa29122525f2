#pragma once

#include "Common/Quaternion.h"
#include "Common/Vec3.h"

namespace Morvik {
class Orientation;
class Position;
}  // namespace Morvik

// Fill the schema's pose sub-messages from the maths types.
void setPosition(Morvik::Position* out, const Vec3& position);
void setOrientation(Morvik::Orientation* out, const Quaternion& orientation);
