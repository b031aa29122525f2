#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "Common/Quaternion.h"

// What a scripted player does with its controls. Each ClientUpdate asks the scenario for the
// orientation and the control bits to send.
enum class ScenarioKind { Idle, Cruise, Dogfight };

// Parses "idle", "cruise" or "dogfight"; false for anything else.
bool parseScenario(const std::string& name, ScenarioKind& kind);
const char* scenarioName(ScenarioKind kind);

struct Controls {
    Quaternion orientation;
    std::uint32_t mask = 0;
};

class Scenario {
public:
    // Cruise: thrust along a fresh heading, then coast along it.
    static constexpr double kCruiseThrustSeconds = 1.0;
    static constexpr double kCruiseCoastSeconds = 3.0;
    // Dogfight: a new turn (axis and rate) after a random 0.5 to 2 s.
    static constexpr double kTurnMinSeconds = 0.5;
    static constexpr double kTurnMaxSeconds = 2.0;
    static constexpr float kTurnMinRate = 0.5f;  // radians per second
    static constexpr float kTurnMaxRate = 1.5f;

    Scenario(ScenarioKind kind, std::uint32_t seed);

    // The controls for an update sent at t seconds (non-decreasing from call to call).
    Controls next(double t);

    ScenarioKind kind() const { return kind_; }

private:
    Quaternion randomOrientation();
    Vec3 randomAxis();
    void newTurn(double t);

    ScenarioKind kind_;
    std::mt19937 rng_;
    Quaternion orientation_;
    bool started_ = false;
    double lastT_ = 0.0;
    // Cruise: when the current thrust-and-coast cycle began (shifted per player).
    double cycleStart_ = 0.0;
    // Dogfight: the current turn and when the next one begins.
    Vec3 turnAxis_;
    float turnRate_ = 0.0f;
    double nextTurn_ = 0.0;
};
