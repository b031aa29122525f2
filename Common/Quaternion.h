#pragma once

#include "Common/Matrix.h"
#include "Common/Vec3.h"

// Rotation quaternion, stored scalar first (w, x, y, z). Default is the identity.
struct Quaternion {
    float w, x, y, z;

    Quaternion() : w(1), x(0), y(0), z(0) {}
    Quaternion(float w, float x, float y, float z) : w(w), x(x), y(y), z(z) {}

    // Hamilton product, this on the left.
    Quaternion operator*(const Quaternion& q) const;
    Quaternion operator+(const Quaternion& q) const;

    Quaternion conjugate() const;
    // Scales to unit length when longer than 1e-8; returns the length before.
    float normalize();
    // q v q* for a unit quaternion.
    Vec3 rotate(const Vec3& v) const;
    Matrix3 toMatrix3() const;
    // n-th power of a unit quaternion; the identity when |w| >= 0.9999.
    Quaternion pow(int n) const;
};

Quaternion operator*(const float& s, const Quaternion& q);
float dot(const Quaternion& p, const Quaternion& q);
// The axis is used as given (a unit axis is expected); angle in radians.
Quaternion fromAxisAngle(float angle, const Vec3& axis);
// Spherical interpolation; not normalised, t not clamped.
Quaternion slerp(const Quaternion& a, const Quaternion& b, const float& t);
