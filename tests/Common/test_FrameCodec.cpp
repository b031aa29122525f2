// Cutting byte streams and datagrams into frames and frames into events.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"

namespace {

std::string destroyFrame(std::uint64_t id) {
    Morvik::ObjectDestroy message;
    message.set_id(id);
    std::string frame;
    appendFrame(frame, MessageType::ObjectDestroy, message);
    return frame;
}

std::string updateFrame(std::uint64_t id, std::uint32_t timestamp) {
    Morvik::ObjectUpdate message;
    message.set_id(id);
    message.set_timestamp(timestamp);
    message.mutable_position()->set_x(1.5f);
    message.mutable_position()->set_y(-2.0f);
    message.mutable_position()->set_z(300.0f);
    std::string frame;
    appendFrame(frame, MessageType::ObjectUpdate, message);
    return frame;
}

// A frame by hand: length, type, body.
std::string rawFrame(std::uint8_t type, const std::string& body) {
    const std::size_t n = body.size() + 1;
    std::string frame;
    frame.push_back(static_cast<char>(n & 0xFF));
    frame.push_back(static_cast<char>(n >> 8));
    frame.push_back(static_cast<char>(type));
    return frame + body;
}

struct Split {
    std::vector<NetworkEventPtr> events;
    bool malformed = false;
};

Split split(const std::string& bytes, std::string& leftover) {
    Split result;
    result.events = splitFrames(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                leftover, result.malformed);
    return result;
}

std::uint64_t idOf(const NetworkEventPtr& event) {
    if (event->type == static_cast<int>(MessageType::ObjectDestroy)) {
        return static_cast<const Morvik::ObjectDestroy&>(*event->message).id();
    }
    return static_cast<const Morvik::ObjectUpdate&>(*event->message).id();
}

}  // namespace

TEST(FrameCodec, AppendFrameWritesLittleEndianLengthTypeAndBody) {
    Morvik::ObjectDestroy message;
    message.set_id(0x1234567890ull);
    const std::string body = message.SerializeAsString();
    std::string out = "prefix";
    appendFrame(out, MessageType::ObjectDestroy, message);
    ASSERT_EQ(out.size(), 6u + 3u + body.size());
    EXPECT_EQ(static_cast<std::uint8_t>(out[6]), body.size() + 1);
    EXPECT_EQ(static_cast<std::uint8_t>(out[7]), 0u);
    EXPECT_EQ(static_cast<std::uint8_t>(out[8]), 3u);
    EXPECT_EQ(out.substr(9), body);
}

// The type bytes are the wire's numbers, written out here rather than taken from the enum
// that both programs share.
TEST(FrameCodec, TypeBytesAreTheWireNumbers) {
    Morvik::ObjectInfo info;
    info.set_id(1);
    info.set_objecttype(kPlayerType);
    info.set_timestamp(2);
    info.mutable_position()->set_x(0.0f);
    info.mutable_position()->set_y(0.0f);
    info.mutable_position()->set_z(0.0f);
    info.mutable_orientation()->set_x(0.0f);
    info.mutable_orientation()->set_y(0.0f);
    info.mutable_orientation()->set_z(0.0f);
    info.mutable_orientation()->set_w(1.0f);
    Morvik::ObjectUpdate update;
    update.set_id(1);
    update.set_timestamp(2);
    Morvik::ObjectDestroy destroy;
    destroy.set_id(1);
    Morvik::ClientUpdate clientUpdate;
    *clientUpdate.mutable_orientation() = info.orientation();
    clientUpdate.set_boosterson(0);
    Morvik::Welcome welcome;
    welcome.set_id(1);
    welcome.set_qport(1);
    welcome.mutable_playerdata()->set_health(100.0f);

    const struct {
        std::uint8_t byte;
        MessageType type;
        const google::protobuf::Message& message;
    } cases[] = {{1, MessageType::ObjectInfo, info},
                 {2, MessageType::ObjectUpdate, update},
                 {3, MessageType::ObjectDestroy, destroy},
                 {4, MessageType::ClientUpdate, clientUpdate},
                 {5, MessageType::Welcome, welcome}};
    for (const auto& c : cases) {
        const std::string name = c.message.GetDescriptor()->name();
        std::string written;
        appendFrame(written, c.type, c.message);
        EXPECT_EQ(static_cast<std::uint8_t>(written.at(2)), c.byte) << name;

        std::string leftover;
        const Split result = split(rawFrame(c.byte, c.message.SerializeAsString()), leftover);
        ASSERT_EQ(result.events.size(), 1u) << name;
        EXPECT_EQ(result.events[0]->type, c.byte) << name;
        EXPECT_EQ(result.events[0]->message->GetDescriptor()->name(), name);
    }
}

TEST(FrameCodec, AppendFrameHandlesTheLargestLengthAndRefusesLarger) {
    // Body sizes 65534 (N = 65535, the largest) and 65535 (N would wrap to 0).
    for (const std::size_t wanted : {std::size_t{65534}, std::size_t{65535}}) {
        Morvik::Welcome welcome;
        welcome.set_id(1);
        welcome.set_qport(2);
        welcome.mutable_playerdata()->set_health(1.0f);
        welcome.mutable_playerdata()->set_name(std::string(wanted, 'n'));
        while (welcome.ByteSizeLong() > wanted) {
            welcome.mutable_playerdata()->mutable_name()->pop_back();
        }
        ASSERT_EQ(welcome.ByteSizeLong(), wanted);
        std::string out;
        testing::internal::CaptureStdout();
        appendFrame(out, MessageType::Welcome, welcome);
        testing::internal::GetCapturedStdout();
        if (wanted == 65534) {
            ASSERT_EQ(out.size(), 2u + 65535u);
            EXPECT_EQ(frameLength(out), 65535u);
            std::string leftover;
            const Split result = split(out, leftover);
            ASSERT_EQ(result.events.size(), 1u);
            EXPECT_EQ(result.events[0]->type, static_cast<int>(MessageType::Welcome));
        } else {
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(FrameCodec, FrameLengthNeedsTheWholeFrame) {
    EXPECT_EQ(frameLength(""), 0u);
    EXPECT_EQ(frameLength(std::string("\x05", 1)), 0u);
    // N = 5 needs 7 bytes.
    EXPECT_EQ(frameLength(std::string("\x05\x00\x03\x08\x01\x02", 6)), 0u);
    EXPECT_EQ(frameLength(std::string("\x05\x00\x03\x08\x01\x02\x03", 7)), 5u);
    // High byte first would read 0x0500.
    EXPECT_EQ(frameLength(std::string("\x00\x01", 2) + std::string(256, 'x')), 256u);
}

TEST(FrameCodec, StreamCutAtEveryByteDecodesEachFrameOnceInOrder) {
    const std::string stream = destroyFrame(1) + updateFrame(2, 99) + destroyFrame(3);
    const std::size_t end1 = destroyFrame(1).size();
    const std::size_t end2 = end1 + updateFrame(2, 99).size();

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::string leftover;
        const Split first = split(stream.substr(0, cut), leftover);
        const std::size_t whole = (cut >= end1) + (cut >= end2) + (cut == stream.size());
        ASSERT_EQ(first.events.size(), whole);
        const Split second = split(stream.substr(cut), leftover);
        EXPECT_TRUE(leftover.empty());
        std::vector<NetworkEventPtr> all = first.events;
        all.insert(all.end(), second.events.begin(), second.events.end());
        ASSERT_EQ(all.size(), 3u);
        EXPECT_EQ(idOf(all[0]), 1u);
        EXPECT_EQ(idOf(all[1]), 2u);
        EXPECT_EQ(idOf(all[2]), 3u);
        EXPECT_EQ(all[1]->type, static_cast<int>(MessageType::ObjectUpdate));
        EXPECT_EQ(all[1]->kind, MessageReceived);
        EXPECT_FALSE(first.malformed || second.malformed);
    }
}

TEST(FrameCodec, LeftoverKeepsExactlyTheIncompleteFrame) {
    std::string leftover;
    EXPECT_TRUE(split("", leftover).events.empty());
    EXPECT_TRUE(leftover.empty());

    const std::string third = destroyFrame(3);
    const Split two = split(destroyFrame(1) + destroyFrame(2) + third.substr(0, 3), leftover);
    ASSERT_EQ(two.events.size(), 2u);
    EXPECT_EQ(idOf(two.events[0]), 1u);
    EXPECT_EQ(idOf(two.events[1]), 2u);
    EXPECT_EQ(leftover, third.substr(0, 3));

    const Split rest = split(third.substr(3), leftover);
    ASSERT_EQ(rest.events.size(), 1u);
    EXPECT_EQ(idOf(rest.events[0]), 3u);
    EXPECT_TRUE(leftover.empty());
}

TEST(FrameCodec, FailedFramesAreReportedInOrderAndSkipped) {
    Morvik::ObjectDestroy noId;
    const std::string stream = destroyFrame(1) + rawFrame(7, "abc") + destroyFrame(2) +
                               rawFrame(3, noId.SerializePartialAsString()) +
                               rawFrame(2, "\xFF\xFF") + destroyFrame(3);
    std::string leftover;
    testing::internal::CaptureStdout();
    const Split result = split(stream, leftover);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(out,
              "Unknown message type received (type byte: 0x7) info \n"
              "Error in deserializing of message\n"
              "Error in parseing message \n"
              "Error in deserializing of message\n"
              "Error in parseing message \n"
              "Error in deserializing of message\n");
    ASSERT_EQ(result.events.size(), 3u);
    EXPECT_EQ(idOf(result.events[0]), 1u);
    EXPECT_EQ(idOf(result.events[1]), 2u);
    EXPECT_EQ(idOf(result.events[2]), 3u);
    EXPECT_TRUE(leftover.empty());
    EXPECT_FALSE(result.malformed);
}

TEST(FrameCodec, UnknownTypeBytePrintsAsSignedByte) {
    std::string leftover;
    testing::internal::CaptureStdout();
    split(rawFrame(0, "") + rawFrame(200, "x") + rawFrame(127, ""), leftover);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Unknown message type received (type byte: 0x0) info \n"
              "Error in deserializing of message\n"
              "Unknown message type received (type byte: 0xffffffc8) info \n"
              "Error in deserializing of message\n"
              "Unknown message type received (type byte: 0x7f) info \n"
              "Error in deserializing of message\n");
}

TEST(FrameCodec, TypeByteOnlyFrameFailsForMessagesWithRequiredFields) {
    auto event = std::make_shared<NetworkEvent>();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parseFrame(std::string(1, '\x03'), event));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in parseing message \n");
    EXPECT_EQ(event->message, nullptr);
}

TEST(FrameCodec, ZeroLengthMarksTheStreamMalformed) {
    std::string leftover;
    testing::internal::CaptureStdout();
    const Split result =
        split(destroyFrame(1) + std::string("\x00\x00", 2) + destroyFrame(2), leftover);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(result.malformed);
    ASSERT_EQ(result.events.size(), 1u);
    EXPECT_EQ(idOf(result.events[0]), 1u);
    // Nothing is kept that could stall the next read.
    EXPECT_TRUE(leftover.empty());
    EXPECT_EQ(out, "Error in deserializing of message\n");
}

TEST(FrameCodec, ZeroLengthSplitAcrossReadsIsFoundWhenComplete) {
    std::string leftover;
    const Split first = split(destroyFrame(1) + std::string(1, '\0'), leftover);
    EXPECT_FALSE(first.malformed);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_EQ(leftover.size(), 1u);

    testing::internal::CaptureStdout();
    const Split second = split(std::string(1, '\0') + destroyFrame(2), leftover);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(second.malformed);
    EXPECT_TRUE(second.events.empty());
    EXPECT_TRUE(leftover.empty());
}

TEST(FrameCodec, EscapeBytesKeepsOnlyPrintableAscii) {
    const std::string raw("ok \x01\x1b[2J\x7f\xff~", 11);
    EXPECT_EQ(escapeBytes(raw.data(), raw.size()), "ok \\x01\\x1b[2J\\x7f\\xff~");
    EXPECT_EQ(escapeBytes("", 0), "");
}
