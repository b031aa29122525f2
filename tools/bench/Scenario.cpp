#include "tools/bench/Scenario.h"
#include "Common/Controls.h"

#include <cmath>

bool parseScenario(const std::string& name, ScenarioKind& kind) {
    if (name == "idle") {
        kind = ScenarioKind::Idle;
    } else if (name == "cruise") {
        kind = ScenarioKind::Cruise;
    } else if (name == "dogfight") {
        kind = ScenarioKind::Dogfight;
    } else {
        return false;
    }
    return true;
}

const char* scenarioName(ScenarioKind kind) {
    switch (kind) {
        case ScenarioKind::Idle:
            return "idle";
        case ScenarioKind::Cruise:
            return "cruise";
        case ScenarioKind::Dogfight:
            return "dogfight";
    }
    return "?";
}

Scenario::Scenario(ScenarioKind kind, std::uint32_t seed) : kind_(kind), rng_(seed) {
    orientation_ = randomOrientation();
}

Quaternion Scenario::randomOrientation() {
    // Four normal deviates, normalised: uniform over all rotations.
    std::normal_distribution<float> normal(0.0f, 1.0f);
    Quaternion q(normal(rng_), normal(rng_), normal(rng_), normal(rng_));
    if (q.normalize() < 1e-3f) {
        q = Quaternion();
    }
    return q;
}

Vec3 Scenario::randomAxis() {
    std::normal_distribution<float> normal(0.0f, 1.0f);
    Vec3 axis(normal(rng_), normal(rng_), normal(rng_));
    if (axis.normalize() < 1e-3f) {
        axis = Vec3(0.0f, 1.0f, 0.0f);
    }
    return axis;
}

void Scenario::newTurn(double t) {
    std::uniform_real_distribution<double> span(kTurnMinSeconds, kTurnMaxSeconds);
    std::uniform_real_distribution<float> rate(kTurnMinRate, kTurnMaxRate);
    turnAxis_ = randomAxis();
    turnRate_ = rate(rng_);
    nextTurn_ = t + span(rng_);
}

Controls Scenario::next(double t) {
    Controls result;
    if (!started_) {
        started_ = true;
        lastT_ = t;
        // Players start their cycles at different points, so they do not all thrust at once.
        std::uniform_real_distribution<double> phase(0.0,
                                                     kCruiseThrustSeconds + kCruiseCoastSeconds);
        cycleStart_ = t - phase(rng_);
        newTurn(t);
    }
    const double dt = t - lastT_;
    lastT_ = t;

    switch (kind_) {
        case ScenarioKind::Idle:
            break;
        case ScenarioKind::Cruise: {
            const double cycle = kCruiseThrustSeconds + kCruiseCoastSeconds;
            if (t - cycleStart_ >= cycle) {
                cycleStart_ += cycle * std::floor((t - cycleStart_) / cycle);
                orientation_ = randomOrientation();
            }
            if (t - cycleStart_ < kCruiseThrustSeconds) {
                result.mask = controls::kForward;
            }
            break;
        }
        case ScenarioKind::Dogfight: {
            if (t >= nextTurn_) {
                newTurn(t);
            }
            // The turn is about an axis of the ship's own frame, so it composes on the right.
            orientation_ =
                orientation_ * fromAxisAngle(turnRate_ * static_cast<float>(dt), turnAxis_);
            orientation_.normalize();
            // The trigger stays down: the server fires whenever its rate limit allows.
            result.mask = controls::kForward | controls::kFire;
            break;
        }
    }
    result.orientation = orientation_;
    return result;
}
