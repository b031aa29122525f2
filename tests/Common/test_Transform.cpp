#include <gtest/gtest.h>

#include <cstdint>

#include "Common/CollisionObject.h"
#include "Common/Transform.h"

namespace {

void expectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

void expectZero(const Vec3& v) {
    expectVec(v, 0, 0, 0);
}

const Quaternion kTurn(0.6f, 0.8f, 0, 0);

TEST(TransformConstruction, StartsUntypedAtRest) {
    Transform t(std::uint64_t{0x100000002});
    EXPECT_EQ(t.id, 0x100000002u);
    EXPECT_EQ(t.objectType, -1);
    EXPECT_EQ(t.parent, nullptr);
    EXPECT_TRUE(t.children.empty());
    expectVec(t.scale, 1, 1, 1);
    expectZero(t.position);
    expectZero(t.velocity);
    expectZero(t.shownPosition);
    expectZero(t.sampleVelocity);
    EXPECT_EQ(t.orientation.w, 1.0f);
    EXPECT_EQ(t.shownOrientation.w, 1.0f);
    EXPECT_EQ(t.timeSinceSample, 0.0f);

    Transform root;
    EXPECT_EQ(root.id, 0u);
    EXPECT_EQ(root.objectType, -1);
}

TEST(TransformConstruction, KeysAreTheObjectItself) {
    Transform a(std::uint64_t{1}), b(std::uint64_t{1});
    EXPECT_EQ(a.getConnectionKey(), static_cast<void*>(&a));
    EXPECT_EQ(a.getKey(), static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(&a)));
    EXPECT_NE(a.getKey(), b.getKey());
}

TEST(TransformSamples, FirstSampleFillsTheHistory) {
    Transform t(std::uint64_t{7});
    t.timeSinceSample = 3.0f;
    t.addNetworkSample(5000, Vec3(100, -20, 3), kTurn, true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t.sampleTimes[i], 5000u) << i;
        expectVec(t.samplePositions[i], 100, -20, 3);
        EXPECT_EQ(t.sampleOrientations[i].x, 0.8f);
    }
    expectVec(t.shownPosition, 100, -20, 3);
    expectVec(t.blendStart, 100, -20, 3);
    // Far from the old shown position (the origin), but a first sample never snaps.
    expectZero(t.sampleError);
    expectZero(t.sampleVelocity);
    expectZero(t.previousSampleVelocity);
    expectZero(t.sampleAcceleration);
    expectZero(t.extrapolationVelocity);
    EXPECT_EQ(t.timeSinceSample, 0.0f);
    // The pose itself is the object's own business.
    expectZero(t.position);
}

TEST(TransformSamples, SecondSampleGivesVelocity) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(1100, Vec3(5, 0, 0), kTurn, false);
    EXPECT_EQ(t.sampleTimes[0], 1100u);
    EXPECT_EQ(t.sampleTimes[1], 1000u);
    EXPECT_EQ(t.sampleTimes[2], 1000u);
    expectVec(t.samplePositions[0], 5, 0, 0);
    EXPECT_EQ(t.sampleOrientations[0].w, 0.6f);
    EXPECT_EQ(t.sampleOrientations[1].w, 1.0f);
    // 5 units in 100 ms.
    expectVec(t.sampleVelocity, 50, 0, 0);
    expectZero(t.previousSampleVelocity);
    expectVec(t.sampleAcceleration, 50, 0, 0);
    expectVec(t.extrapolationVelocity, 50, 0, 0);
    expectVec(t.sampleError, 5, 0, 0);
    expectZero(t.blendStart);  // shown position had not moved yet
    expectZero(t.shownPosition);
}

TEST(TransformSamples, HistoryShiftsNewestFirst) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(10, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(20, Vec3(0, 1, 0), Quaternion(), false);
    t.addNetworkSample(30, Vec3(0, 2, 0), Quaternion(), false);
    t.addNetworkSample(40, Vec3(0, 3, 0), Quaternion(), false);
    EXPECT_EQ(t.sampleTimes[0], 40u);
    EXPECT_EQ(t.sampleTimes[1], 30u);
    EXPECT_EQ(t.sampleTimes[2], 20u);
    expectVec(t.samplePositions[2], 0, 1, 0);
    // 1 unit per 10 ms each time: steady velocity, no acceleration.
    expectVec(t.sampleVelocity, 0, 100, 0);
    expectVec(t.previousSampleVelocity, 0, 100, 0);
    expectZero(t.sampleAcceleration);
}

TEST(TransformSamples, EqualTimestampsGiveNoVelocity) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(1100, Vec3(5, 0, 0), Quaternion(), false);
    t.addNetworkSample(1100, Vec3(6, 0, 0), Quaternion(), false);
    expectZero(t.sampleVelocity);
    expectVec(t.previousSampleVelocity, 50, 0, 0);
    expectVec(t.sampleAcceleration, -50, 0, 0);
}

TEST(TransformSamples, FirstFlagKeepsTheVelocity) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(1100, Vec3(5, 0, 0), Quaternion(), false);
    t.addNetworkSample(1200, Vec3(40, 0, 0), Quaternion(), true);
    expectVec(t.sampleVelocity, 50, 0, 0);
    expectVec(t.previousSampleVelocity, 50, 0, 0);
    expectZero(t.sampleAcceleration);
    expectVec(t.extrapolationVelocity, 50, 0, 0);
    expectVec(t.shownPosition, 40, 0, 0);
}

TEST(TransformSamples, TimestampsWrapAsUnsigned) {
    Transform across(std::uint64_t{7});
    across.addNetworkSample(0xFFFFFFF0u, Vec3(0, 0, 0), Quaternion(), true);
    across.addNetworkSample(0x54u, Vec3(0, 0, 5), Quaternion(), false);  // 100 ms later
    expectVec(across.sampleVelocity, 0, 0, 50);

    // An older sample arriving late spans almost 2^32 ms: a velocity near zero.
    Transform stale(std::uint64_t{8});
    stale.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    stale.addNetworkSample(900, Vec3(5, 0, 0), Quaternion(), false);
    EXPECT_GT(stale.sampleVelocity.x, 0.0f);
    EXPECT_LT(stale.sampleVelocity.x, 1e-5f);
    EXPECT_EQ(stale.sampleVelocity.y, 0.0f);
}

TEST(TransformSnap, ExactlyTenUnitsStillBlends) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(1100, Vec3(0, 10, 0), Quaternion(), false);
    expectVec(t.sampleError, 0, 10, 0);
    expectVec(t.sampleVelocity, 0, 100, 0);
    expectZero(t.shownPosition);
    EXPECT_EQ(t.sampleTimes[1], 1000u);
}

TEST(TransformSnap, BeyondTenUnitsJumps) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(1000, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(1100, Vec3(10.01f, 0, 0), kTurn, false);
    expectVec(t.shownPosition, 10.01f, 0, 0);
    expectVec(t.blendStart, 10.01f, 0, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t.sampleTimes[i], 1100u) << i;
        expectVec(t.samplePositions[i], 10.01f, 0, 0);
        EXPECT_EQ(t.sampleOrientations[i].w, 0.6f);
    }
    expectZero(t.sampleVelocity);
    expectZero(t.previousSampleVelocity);
    expectZero(t.sampleError);
    expectZero(t.extrapolationVelocity);
    // The acceleration of the step before the snap survives it.
    EXPECT_NEAR(t.sampleAcceleration.x, 100.1f, 1e-3f);
}

TEST(TransformPrediction, BlendsForHalfASecondThenExtrapolates) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(0, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(100, Vec3(5, 0, 0), Quaternion(), false);
    // Velocity 50, acceleration 50, error 5, blend from the origin.

    t.update(0.25f);
    // v = 50 + 50 * 0.25 = 62.5; target 5 + 62.5 * 0.5 = 36.25; halfway there.
    EXPECT_FLOAT_EQ(t.timeSinceSample, 0.25f);
    expectVec(t.extrapolationVelocity, 62.5f, 0, 0);
    expectVec(t.shownPosition, 18.125f, 0, 0);

    t.update(0.25f);
    // Exactly 0.5 s: on the target, 5 + 75 * 0.5.
    expectVec(t.extrapolationVelocity, 75, 0, 0);
    expectVec(t.shownPosition, 42.5f, 0, 0);

    t.update(0.25f);
    // Now dead reckoning: 42.5 + 87.5 * 0.25.
    expectVec(t.extrapolationVelocity, 87.5f, 0, 0);
    expectVec(t.shownPosition, 64.375f, 0, 0);

    // The prediction never moves the pose.
    expectZero(t.position);
    EXPECT_EQ(t.orientation.w, 1.0f);
}

TEST(TransformPrediction, NewSampleRestartsTheBlendFromTheShownPosition) {
    Transform t(std::uint64_t{7});
    t.addNetworkSample(0, Vec3(0, 0, 0), Quaternion(), true);
    t.addNetworkSample(100, Vec3(1, 0, 0), Quaternion(), false);  // v 10, a 10
    t.update(0.5f);  // on target: 1 + (10 + 5) * 0.5 = 8.5
    expectVec(t.shownPosition, 8.5f, 0, 0);
    t.addNetworkSample(200, Vec3(2, 0, 0), Quaternion(), false);  // v 10, a 0
    expectVec(t.blendStart, 8.5f, 0, 0);
    expectVec(t.sampleError, -6.5f, 0, 0);
    EXPECT_EQ(t.timeSinceSample, 0.0f);
    t.update(0.5f);  // target 8.5 - 6.5 + 10 * 0.5 = 7
    expectVec(t.shownPosition, 7, 0, 0);
}

TEST(TransformClientBuild, ApplyNetworkStateRecordsASample) {
    Transform viaApply(std::uint64_t{1}), direct(std::uint64_t{2});
    Transform* asBase = &viaApply;
    asBase->applyNetworkState(10, Vec3(1, 2, 3), kTurn, true);
    asBase->applyNetworkState(60, Vec3(2, 2, 3), kTurn, false);
    direct.addNetworkSample(10, Vec3(1, 2, 3), kTurn, true);
    direct.addNetworkSample(60, Vec3(2, 2, 3), kTurn, false);
    expectVec(viaApply.sampleVelocity, direct.sampleVelocity.x, direct.sampleVelocity.y,
              direct.sampleVelocity.z);
    expectVec(viaApply.sampleVelocity, 20, 0, 0);
    expectVec(viaApply.sampleError, 1, 0, 0);
}

// Counts deletions to show who deletes whom.
int deletedNodes = 0;
struct CountedNode : Transform {
    CountedNode() : Transform(std::uint64_t{1}) {}
    ~CountedNode() override { ++deletedNodes; }
};

TEST(TransformTree, DeleteChildrenDeletesTheWholeSubtree) {
    deletedNodes = 0;
    Transform root;
    auto* a = new CountedNode();
    auto* a1 = new CountedNode();
    auto* b = new CountedNode();
    a->children.push_back(a1);
    root.children.push_back(a);
    root.children.push_back(b);
    root.deleteChildren();
    EXPECT_EQ(deletedNodes, 3);
    EXPECT_TRUE(root.children.empty());
}

TEST(TransformTree, DestructorLeavesChildrenAlive) {
    deletedNodes = 0;
    CountedNode child;
    {
        Transform parent;
        parent.children.push_back(&child);
    }
    EXPECT_EQ(deletedNodes, 0);
}

TEST(CollisionObjectShapes, StartsWithoutShapeAndFreesItsRecords) {
    Vec3 centre(1, 2, 3), start, direction(0, 0, 1);
    auto* plain = new CollisionObject(std::uint64_t{5});
    EXPECT_EQ(plain->id, 5u);
    EXPECT_EQ(plain->shapeKind, kNoShape);
    EXPECT_EQ(plain->sphere, nullptr);
    EXPECT_EQ(plain->segment, nullptr);
    expectZero(plain->localDirection);
    EXPECT_EQ(plain->objectType, -1);
    plain->onCollision(plain);  // nothing happens
    EXPECT_EQ(plain->shapeKind, kNoShape);
    delete plain;

    // Under the leak checker this fails if the records are not freed; the vectors they point
    // at are not owned by them.
    Transform* shaped = new CollisionObject(std::uint64_t{6});
    auto* asCollision = static_cast<CollisionObject*>(shaped);
    asCollision->sphere = new SphereShape{&centre, 2.5f};
    asCollision->segment = new SegmentShape{&start, &direction};
    delete shaped;
    expectVec(centre, 1, 2, 3);
}

}  // namespace
