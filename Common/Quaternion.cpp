#include "Common/Quaternion.h"

#include <cmath>

namespace {
// The transcendental parts are computed in double and rounded to float once.
float sineRounded(float a) {
    return static_cast<float>(std::sin(static_cast<double>(a)));
}
float cosineRounded(float a) {
    return static_cast<float>(std::cos(static_cast<double>(a)));
}
float arcCosRounded(float a) {
    return static_cast<float>(std::acos(static_cast<double>(a)));
}
}  // namespace

Quaternion Quaternion::operator*(const Quaternion& q) const {
    return Quaternion(w * q.w - x * q.x - y * q.y - z * q.z, w * q.x + x * q.w + y * q.z - z * q.y,
                      w * q.y - x * q.z + y * q.w + z * q.x, w * q.z + x * q.y - y * q.x + z * q.w);
}

Quaternion Quaternion::operator+(const Quaternion& q) const {
    return Quaternion(w + q.w, x + q.x, y + q.y, z + q.z);
}

Quaternion Quaternion::conjugate() const {
    return Quaternion(w, -x, -y, -z);
}

float Quaternion::normalize() {
    const float len = std::sqrt(w * w + x * x + y * y + z * z);
    if (len > 1e-8f) {
        const float inv = 1.0f / len;
        w *= inv;
        x *= inv;
        y *= inv;
        z *= inv;
    }
    return len;
}

Vec3 Quaternion::rotate(const Vec3& v) const {
    const Vec3 u(x, y, z);
    const float a = 2.0f * w * w - 1.0f;
    const float d = 2.0f * (u.x * v.x + u.y * v.y + u.z * v.z);
    const float w2 = 2.0f * w;
    const Vec3 c = u.cross(v);
    return Vec3(a * v.x + d * u.x + w2 * c.x, a * v.y + d * u.y + w2 * c.y,
                a * v.z + d * u.z + w2 * c.z);
}

Matrix3 Quaternion::toMatrix3() const {
    return Matrix3(1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * w * z, 2 * x * z - 2 * w * y,
                   2 * x * y - 2 * w * z, 1 - 2 * x * x - 2 * z * z, 2 * y * z + 2 * w * x,
                   2 * x * z + 2 * w * y, 2 * y * z - 2 * w * x, 1 - 2 * x * x - 2 * y * y);
}

Quaternion Quaternion::pow(int n) const {
    // Near the identity the axis is noise, so such a rotation counts as none (NaN included).
    if (std::fabs(w) < 0.9999f) {
        const float theta = arcCosRounded(w);
        const float phi = static_cast<float>(n) * theta;
        const float k = static_cast<float>(std::sin(static_cast<double>(phi)) /
                                           std::sin(static_cast<double>(theta)));
        return Quaternion(cosineRounded(phi), x * k, y * k, z * k);
    }
    return Quaternion();
}

Quaternion operator*(const float& s, const Quaternion& q) {
    return Quaternion(s * q.w, s * q.x, s * q.y, s * q.z);
}

float dot(const Quaternion& p, const Quaternion& q) {
    return p.w * q.w + p.x * q.x + p.y * q.y + p.z * q.z;
}

Quaternion fromAxisAngle(float angle, const Vec3& axis) {
    const float half = angle / 2.0f;
    const float s = sineRounded(half);
    const float c = cosineRounded(half);
    return Quaternion(c, s * axis.x, s * axis.y, s * axis.z);
}

Quaternion slerp(const Quaternion& a, const Quaternion& b, const float& t) {
    const float epsilon = 1e-6f;
    const float c = dot(a, b);
    float wa;
    float wb;
    if (c >= epsilon) {
        if (1.0f - c > epsilon) {
            const float theta = arcCosRounded(c);
            const float k = 1.0f / sineRounded(theta);
            wa = sineRounded((1.0f - t) * theta) * k;
            wb = sineRounded(t * theta) * k;
        } else {
            // sin(theta) is too small to divide by; the arc is a line here.
            wa = 1.0f - t;
            wb = t;
        }
    } else {
        // Opposite hemispheres (or NaN): go the short way, through -a.
        if (1.0f + c > epsilon) {
            const float theta = arcCosRounded(-c);
            const float k = 1.0f / sineRounded(theta);
            wa = sineRounded((t - 1.0f) * theta) * k;
            wb = sineRounded(t * theta) * k;
        } else {
            wa = t - 1.0f;
            wb = t;
        }
    }
    return wa * a + wb * b;
}
