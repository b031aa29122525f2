#include "client/MessageConversions.h"

#include "Common/Protobuf/Object.pb.h"

Quaternion toQuaternion(const Morvik::Orientation& orientation) {
    return Quaternion(orientation.w(), orientation.x(), orientation.y(), orientation.z());
}

Vec3 toVec3(const Morvik::Position& position) {
    return Vec3(position.x(), position.y(), position.z());
}
