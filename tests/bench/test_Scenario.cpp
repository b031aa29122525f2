#include "Common/Controls.h"
#include "tools/bench/Scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

constexpr double kInterval = 0.05;  // a ClientUpdate every 0.05 s

bool sameBits(const Quaternion& a, const Quaternion& b) {
    return std::memcmp(&a, &b, sizeof(Quaternion)) == 0;
}

// Rotation angle between two unit quaternions.
double angleBetween(const Quaternion& a, const Quaternion& b) {
    const double d = std::fabs(dot(a, b));
    return 2.0 * std::acos(std::min(1.0, d));
}

}  // namespace

TEST(Scenario, NamesRoundTrip) {
    for (const ScenarioKind kind :
         {ScenarioKind::Idle, ScenarioKind::Cruise, ScenarioKind::Dogfight}) {
        ScenarioKind parsed;
        ASSERT_TRUE(parseScenario(scenarioName(kind), parsed));
        EXPECT_EQ(parsed, kind);
    }
    ScenarioKind parsed;
    EXPECT_FALSE(parseScenario("brawl", parsed));
}

TEST(Scenario, IdleHoldsStillWithoutControls) {
    Scenario idle(ScenarioKind::Idle, 3);
    const Controls first = idle.next(0.0);
    for (int i = 1; i < 100; ++i) {
        const Controls c = idle.next(i * kInterval);
        EXPECT_EQ(c.mask, 0u);
        EXPECT_TRUE(sameBits(c.orientation, first.orientation));
    }
}

TEST(Scenario, CruiseThrustsAQuarterOfTheTimeAlongOneHeading) {
    Scenario cruise(ScenarioKind::Cruise, 5);
    const double cycle = Scenario::kCruiseThrustSeconds + Scenario::kCruiseCoastSeconds;
    const int updates = static_cast<int>(std::lround(10 * cycle / kInterval));
    int thrusting = 0;
    int headingChanges = 0;
    Controls previous = cruise.next(0.0);
    for (int i = 1; i <= updates; ++i) {
        const Controls c = cruise.next(i * kInterval);
        EXPECT_TRUE(c.mask == 0u || c.mask == controls::kForward);
        thrusting += c.mask != 0u ? 1 : 0;
        if (!sameBits(c.orientation, previous.orientation)) {
            ++headingChanges;
            // A new heading only ever starts a thrust phase: the line bends nowhere else.
            EXPECT_EQ(c.mask, controls::kForward);
        }
        previous = c;
    }
    const double share = static_cast<double>(thrusting) / updates;
    EXPECT_NEAR(share, Scenario::kCruiseThrustSeconds / cycle, 0.03);
    EXPECT_NEAR(headingChanges, 10, 1);
}

TEST(Scenario, DogfightFiresAndThrustsEveryUpdateWhileTurning) {
    Scenario dogfight(ScenarioKind::Dogfight, 7);
    Controls previous = dogfight.next(0.0);
    for (int i = 1; i < 400; ++i) {
        const Controls c = dogfight.next(i * kInterval);
        EXPECT_EQ(c.mask, controls::kForward | controls::kFire);
        // Every update carries an orientation of its own, which is what lets a shot be
        // traced back to the update that fired it.
        EXPECT_FALSE(sameBits(c.orientation, previous.orientation));
        const double angle = angleBetween(c.orientation, previous.orientation);
        EXPECT_GE(angle, Scenario::kTurnMinRate * kInterval * 0.99);
        EXPECT_LE(angle, Scenario::kTurnMaxRate * kInterval * 1.01);
        EXPECT_NEAR(dot(c.orientation, c.orientation), 1.0, 1e-5);
        previous = c;
    }
}

TEST(Scenario, DogfightChangesItsTurnWithinTheSpan) {
    // Over 2 s of updates the turn axis must have changed at least once: the angle between
    // the first and last orientation then differs from a single constant-rate turn. Compare
    // the per-update rotation at the start and after kTurnMaxSeconds.
    Scenario dogfight(ScenarioKind::Dogfight, 11);
    const Quaternion a = dogfight.next(0.0).orientation;
    const Quaternion b = dogfight.next(kInterval).orientation;
    const Quaternion stepBefore = a.conjugate() * b;
    double t = kInterval;
    Quaternion last = b;
    while (t < Scenario::kTurnMaxSeconds + 2 * kInterval) {
        t += kInterval;
        last = dogfight.next(t).orientation;
    }
    const Quaternion next = dogfight.next(t + kInterval).orientation;
    const Quaternion stepAfter = last.conjugate() * next;
    EXPECT_GT(angleBetween(stepBefore, stepAfter), 1e-3);
}

TEST(Scenario, SameSeedSameControls) {
    Scenario a(ScenarioKind::Dogfight, 42);
    Scenario b(ScenarioKind::Dogfight, 42);
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(sameBits(a.next(i * kInterval).orientation, b.next(i * kInterval).orientation));
    }
}
