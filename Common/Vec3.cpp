#include "Common/Vec3.h"

#include <cmath>
#include <cstdio>

Vec3& Vec3::operator+=(const Vec3& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    return *this;
}

Vec3 Vec3::operator+(const Vec3& b) const {
    return Vec3(x + b.x, y + b.y, z + b.z);
}

Vec3 Vec3::operator-(const Vec3& b) const {
    return Vec3(x - b.x, y - b.y, z - b.z);
}

Vec3 Vec3::operator*(const float& s) const {
    return Vec3(x * s, y * s, z * s);
}

Vec3 Vec3::cross(const Vec3& b) const {
    return Vec3(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x);
}

float Vec3::length() const {
    return std::sqrt(x * x + y * y + z * z);
}

float Vec3::normalize() {
    const float len = length();
    if (len > 1e-8f) {
        const float inv = 1.0f / len;
        x *= inv;
        y *= inv;
        z *= inv;
    }
    return len;
}

std::string Vec3::toString() const {
    const double dx = x, dy = y, dz = z;
    // Huge components print hundreds of digits, so measure first.
    const int n = std::snprintf(nullptr, 0, "(%f,%f,%f)", dx, dy, dz);
    if (n <= 0) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(&text[0], text.size(), "(%f,%f,%f)", dx, dy, dz);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

Vec3 lerp(const Vec3& a, const Vec3& b, float t) {
    return a + (b - a) * t;
}
