// fuzz-seeds: writes the seed corpus of the fuzz targets: valid frames of every message type,
// in the input layout of each target. Run as: fuzz-seeds <folder>, which gets the
// subfolders stream/, server/ and client/.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Common/Controls.h"
#include "Common/FrameCodec.h"
#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "tools/fuzz/FuzzRecords.h"
#include "tools/testkit/ClientSession.h"

namespace {

using namespace fuzzrecords;

constexpr std::uint64_t kServerId = std::uint64_t{1} << 32;

std::string playerInfo(std::uint64_t id, bool blueTeam, bool announcement) {
    Morvik::ObjectInfo info;
    info.set_id(id);
    info.set_objecttype(kPlayerType);
    info.set_timestamp(1000);
    setPosition(info.mutable_position(), Vec3(blueTeam ? -500.0f : 500.0f, 10, -20));
    setOrientation(info.mutable_orientation(), Quaternion(1, 0, 0, 0));
    Morvik::PlayerData* data = info.mutable_playerdata();
    data->set_health(100);
    data->set_blueteam(blueTeam);
    data->set_name("Player");
    if (announcement) {
        data->set_score(3);
        data->set_redteamscore(4);
        data->set_blueteamscore(5);
    }
    return frameOf(MessageType::ObjectInfo, info);
}

std::string projectileInfo(std::uint64_t id) {
    Morvik::ObjectInfo info;
    info.set_id(id);
    info.set_objecttype(kProjectileType);
    info.set_timestamp(1100);
    setPosition(info.mutable_position(), Vec3(500, 10, -20));
    setOrientation(info.mutable_orientation(), Quaternion(0.7071f, 0, 0.7071f, 0));
    Morvik::ProjectileData* data = info.mutable_projectiledata();
    setPosition(data->mutable_velocity(), Vec3(100, 0, 0));
    data->set_blueteam(false);
    return frameOf(MessageType::ObjectInfo, info);
}

std::string objectUpdate(std::uint64_t id, std::uint32_t timestamp, float x) {
    Morvik::ObjectUpdate update;
    update.set_id(id);
    update.set_timestamp(timestamp);
    setPosition(update.mutable_position(), Vec3(x, 10, -20));
    setOrientation(update.mutable_orientation(), Quaternion(0.9239f, 0, 0.3827f, 0));
    return frameOf(MessageType::ObjectUpdate, update);
}

std::string objectDestroy(std::uint64_t id) {
    Morvik::ObjectDestroy destroy;
    destroy.set_id(id);
    return frameOf(MessageType::ObjectDestroy, destroy);
}

std::string welcome(std::uint64_t id, std::uint32_t qport) {
    Morvik::Welcome message;
    message.set_id(id);
    message.set_qport(qport);
    Morvik::PlayerData* data = message.mutable_playerdata();
    data->set_health(100);
    data->set_blueteam(false);
    data->set_name("Player");
    return frameOf(MessageType::Welcome, message);
}

std::string clientUpdate(std::uint32_t controls, float scale = 1.0f) {
    return clientUpdateFrame(Quaternion(0.9239f * scale, 0, 0.3827f * scale, 0), controls);
}

bool write(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds <folder>\n");
        return 1;
    }
    const std::string root = argv[1];
    for (const char* sub : {"", "/stream", "/server", "/client"}) {
        mkdir((root + sub).c_str(), 0755);
    }
    const std::uint64_t first = kServerId | 2;
    const std::uint64_t second = kServerId | 3;
    const std::uint64_t shot = kServerId | 9;
    const std::string every = welcome(first, 2) + playerInfo(first, false, false) +
                              objectUpdate(first, 1200, 480) + objectDestroy(shot) +
                              clientUpdate(controls::kForward | controls::kFire);
    bool ok = true;

    // Stream target: a chunking seed byte, then frames.
    const std::string stream = root + "/stream";
    ok &= write(stream, "object-info", std::string(1, '\x01') + playerInfo(first, true, true));
    ok &= write(stream, "projectile-info", std::string(1, '\x02') + projectileInfo(shot));
    ok &= write(stream, "object-update", std::string(1, '\x03') + objectUpdate(first, 1, 2));
    ok &= write(stream, "object-destroy", std::string(1, '\x04') + objectDestroy(shot));
    ok &= write(stream, "client-update",
                std::string(1, '\x05') + clientUpdate(controls::kForward | controls::kUp));
    ok &= write(stream, "welcome", std::string(1, '\x06') + welcome(first, 2));
    ok &= write(stream, "every-type", std::string(1, '\x07') + every);

    // Server target: datagrams from the joined players (qports 2 to 4), TCP bytes, ticks.
    const std::string server = root + "/server";
    const std::string tick = record(kServerTick, "");
    ok &= write(server, "client-update",
                record(kServerDatagram,
                       qportPrefix(2) + clientUpdate(controls::kForward | controls::kFire)) +
                    tick);
    ok &= write(server, "two-updates-one-datagram",
                record(kServerDatagram, qportPrefix(3) + clientUpdate(controls::kForward) +
                                            clientUpdate(controls::kBack | controls::kRight)) +
                    tick + tick);
    ok &= write(server, "every-type-datagram",
                record(kServerDatagram, qportPrefix(4) + every) + tick);
    ok &= write(server, "every-type-tcp", record(kServerTcp | (1 << 2), every) + tick);
    ok &= write(server, "rejoin",
                record(kServerRejoin | (2 << 2), "") + tick +
                    record(kServerDatagram,
                           qportPrefix(5) + clientUpdate(controls::kUp | controls::kFire)) +
                    tick);
    std::string volley;
    for (int i = 0; i < 20; ++i) {
        volley += record(kServerDatagram,
                         qportPrefix(2) + clientUpdate(controls::kForward | controls::kFire)) +
                  tick;
    }
    ok &= write(server, "firing", volley);
    // Finite but no rotation: rotating by it overflows.
    ok &= write(
        server, "oversized-orientation",
        record(kServerDatagram,
               qportPrefix(2) +
                   clientUpdate(controls::kForward | controls::kUp | controls::kFire, 1e20f)) +
            tick + tick);

    // Client target: what a server sends a client.
    const std::string client = root + "/client";
    const std::string frameStep = record(kClientFrame, "");
    ok &= write(client, "join",
                record(kClientTcp, welcome(first, 2) + playerInfo(first, false, false) +
                                       playerInfo(second, true, false)) +
                    frameStep);
    ok &= write(client, "updates",
                record(kClientTcp, playerInfo(second, true, true)) +
                    record(kClientDatagram,
                           objectUpdate(second, 1100, 490) + objectUpdate(second, 1133, 488)) +
                    frameStep + frameStep);
    ok &= write(client, "shot-and-hit",
                record(kClientTcp, projectileInfo(shot)) + frameStep +
                    record(kClientDatagram, objectDestroy(shot)) + frameStep + frameStep);
    ok &= write(client, "player-leaves",
                record(kClientTcp, playerInfo(second, true, false)) + frameStep +
                    record(kClientTcp, objectDestroy(second)) + frameStep + frameStep);
    ok &= write(client, "every-type", record(kClientDatagram, every) + frameStep);
    return ok ? 0 : 1;
}
