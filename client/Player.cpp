#include "client/Player.h"

#include <GL/gl.h>

#include <cmath>
#include <limits>

#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "client/Render.h"
#include "client/ResourceManager.h"

namespace {

constexpr float kTurnRate = 15.0f;  // slerp factor per second toward the target

// Whole sample periods in dt, truncated toward zero. Two samples with one timestamp give no
// period: then the target is the newest sample itself.
int wholePeriods(float dt, float period) {
    if (!(period > 0.0f)) {
        return 0;
    }
    const float periods = dt / period;
    if (!(std::fabs(periods) < static_cast<float>(std::numeric_limits<int>::max()))) {
        return periods > 0.0f ? std::numeric_limits<int>::max() : 0;
    }
    return static_cast<int>(periods);
}

}  // namespace

Player::Player(std::uint64_t id, bool blueTeam, std::int32_t health)
    : CollisionObject(id),
      blueTeam(blueTeam),
      health(static_cast<float>(health)),
      score(0),
      catchUpRotation() {
    ResourceManager::getInstance()->preloadTexture("texture-white.png");
    objectType = kPlayerType;
}

void Player::applyNetworkState(std::uint32_t timestamp, const Vec3& position,
                               const Quaternion& orientation, bool first) {
    addNetworkSample(timestamp, position, orientation, first);
    catchUpRotation = shownOrientation.conjugate() * sampleOrientations[0];
    catchUpRotation.normalize();
}

void Player::update(float dt) {
    const std::uint32_t elapsedMs = sampleTimes[0] - sampleTimes[1];
    const float period = static_cast<float>(static_cast<double>(elapsedMs) * 0.001f);
    const int n = wholePeriods(dt, period);
    const Quaternion target = catchUpRotation.pow(n) * sampleOrientations[0];
    shownOrientation = slerp(shownOrientation, target, dt * kTurnRate);

    // Drawn where the previous update's prediction put it.
    position = shownPosition;
    orientation = shownOrientation;
    Transform::update(dt);
}

void Player::applyPlayerData(const Morvik::PlayerData& data) {
    if (data.has_health()) {
        health = data.health();
    }
    if (data.has_blueteam()) {
        blueTeam = data.blueteam();
    }
    if (data.has_name()) {
        name = data.name();
    }
    if (data.has_score()) {
        score = data.score();
    }
}

void Player::draw() {
    ResourceManager* resources = ResourceManager::getInstance();
    glPushMatrix();
    setTeamColour(blueTeam);
    glBindTexture(GL_TEXTURE_2D, resources->getTexture("texture-white.png"));
    glScalef(0.05f, 0.05f, 0.05f);
    resources->drawModel("fighter.obj");
    glColor3f(1, 1, 1);
    glPopMatrix();
}
