#pragma once

// Nine floats kept in the order given: the images of the x, y and z axes, one after another.
struct Matrix3 {
    float m[9];
    Matrix3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
            float m8);
};

// Sixteen floats in the column order that glMultMatrixf reads.
struct Matrix4 {
    float m[16];
    Matrix4();  // identity
    explicit Matrix4(const Matrix3& r);
    Matrix4(float n0, float n1, float n2, float n3, float n4, float n5, float n6, float n7,
            float n8);
};
