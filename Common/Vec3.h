#pragma once

#include <string>

// Three single-precision components; a position, a velocity or a direction.
struct Vec3 {
    float x, y, z;

    Vec3() : x(0), y(0), z(0) {}
    Vec3(float x, float y, float z) : x(x), y(y), z(z) {}

    Vec3& operator+=(const Vec3& b);
    Vec3 operator+(const Vec3& b) const;
    Vec3 operator-(const Vec3& b) const;
    Vec3 operator*(const float& s) const;

    Vec3 cross(const Vec3& b) const;
    float length() const;
    // Scales to unit length when longer than 1e-8; returns the length before.
    float normalize();
    // "(%f,%f,%f)"
    std::string toString() const;
};

// a + (b - a) * t; t is not clamped.
Vec3 lerp(const Vec3& a, const Vec3& b, float t);
