#include "Common/Matrix.h"

Matrix3::Matrix3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
                 float m8)
    : m{m0, m1, m2, m3, m4, m5, m6, m7, m8} {}

Matrix4::Matrix4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

Matrix4::Matrix4(const Matrix3& r)
    : Matrix4(r.m[0], r.m[1], r.m[2], r.m[3], r.m[4], r.m[5], r.m[6], r.m[7], r.m[8]) {}

// Each axis image becomes one column of the 4x4 rotation.
Matrix4::Matrix4(float n0, float n1, float n2, float n3, float n4, float n5, float n6, float n7,
                 float n8)
    : m{n0, n1, n2, 0, n3, n4, n5, 0, n6, n7, n8, 0, 0, 0, 0, 1} {}
