#include "Common/MessageConversions.h"

#include "Common/Protobuf/Object.pb.h"

Quaternion toQuaternion(const Morvik::Orientation& orientation) {
    return Quaternion(orientation.w(), orientation.x(), orientation.y(), orientation.z());
}

Vec3 toVec3(const Morvik::Position& position) {
    return Vec3(position.x(), position.y(), position.z());
}

void setPosition(Morvik::Position* out, const Vec3& position) {
    out->set_x(position.x);
    out->set_y(position.y);
    out->set_z(position.z);
}

void setOrientation(Morvik::Orientation* out, const Quaternion& orientation) {
    out->set_w(orientation.w);
    out->set_x(orientation.x);
    out->set_y(orientation.y);
    out->set_z(orientation.z);
}
