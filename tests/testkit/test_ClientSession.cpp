#include "Common/ObjectTypes.h"
#include "tools/testkit/ClientSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// What the server sends a newcomer first: its Welcome, then an ObjectInfo.
std::string joinStream(std::uint32_t qport) {
    Morvik::Welcome welcome;
    welcome.set_id((1ull << 32) | 2);
    welcome.set_qport(qport);
    welcome.mutable_playerdata()->set_health(100.0f);
    Morvik::ObjectInfo info;
    info.set_id(welcome.id());
    info.set_objecttype(kPlayerType);
    info.set_timestamp(7);
    return frameOf(MessageType::Welcome, welcome) + frameOf(MessageType::ObjectInfo, info);
}

}  // namespace

TEST(ClientSession, FramesInReadsOfAnySizeComeOutWholeAndTheWelcomeGivesTheQport) {
    const std::string stream = joinStream(0x1234);
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        ClientSession session;
        std::vector<std::string> frames;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            ASSERT_TRUE(session.readTcp(
                bytes(stream) + at, std::min(chunk, stream.size() - at),
                [&](std::uint8_t type, const std::uint8_t* body, std::size_t size) {
                    frames.push_back(std::string(1, static_cast<char>(type)) +
                                     std::string(reinterpret_cast<const char*>(body), size));
                }));
        }
        ASSERT_EQ(frames.size(), 2u) << "reads of " << chunk;
        EXPECT_EQ(frames[0][0], static_cast<char>(MessageType::Welcome));
        EXPECT_EQ(frames[1][0], static_cast<char>(MessageType::ObjectInfo));
        EXPECT_EQ(frames[0].size() + frames[1].size() + 4, stream.size());
        ASSERT_TRUE(session.welcomed());
        // The qport goes little-endian in front of the ClientUpdate frame.
        const std::string datagram = session.datagram(makeClientUpdate(Quaternion(), 1));
        EXPECT_EQ(datagram, qportPrefix(0x1234) + clientUpdateFrame(Quaternion(), 1));
        EXPECT_EQ(datagram.substr(0, 2), std::string("\x34\x12", 2));
    }
}

TEST(ClientSession, ZeroLengthMakesTheStreamUnreadable) {
    ClientSession session;
    int frames = 0;
    const std::string stream = std::string("\x00\x00", 2) + joinStream(2);
    EXPECT_FALSE(
        session.readTcp(bytes(stream), stream.size(),
                        [&](std::uint8_t, const std::uint8_t*, std::size_t) { ++frames; }));
    EXPECT_EQ(frames, 0);
    EXPECT_FALSE(session.welcomed());
}
