#pragma once

#include "Common/Quaternion.h"
#include "Common/Vec3.h"

// The chase camera: rotations asked for during a frame collect in pendingRotation and are
// folded in by apply(), once per frame.
class Camera {
public:
    void roll(float angle);   // about forward
    void yaw(float angle);    // about up
    void pitch(float angle);  // about forward x up
    // Folds pendingRotation in, loads the view with gluLookAt; returns the eye position.
    Vec3 apply();
    void setPosition(float x, float y, float z);
    const Quaternion* getOrientation() const { return &orientation; }

    Quaternion pendingRotation;
    Quaternion orientation;
    Vec3 position;
    Vec3 up{0, 1, 0};
    Vec3 forward{0, 0, 1};

private:
    void rotateAbout(const Vec3& axis, float angle);
};
