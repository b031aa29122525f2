#pragma once
// Shared set-up of the end-to-end tests: a server on a free port, scripted clients on one
// network thread, and filters over what the clients received.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/Controls.h"
#include "tools/testkit/ChildProcess.h"
#include "tools/testkit/IoThread.h"
#include "tools/testkit/MonotonicClock.h"
#include "tools/testkit/ScriptedClient.h"
#include "tools/testkit/ServerProcess.h"

namespace e2e {

using scripted::ReceivedMessage;
using scripted::ScriptedClient;
using scripted::Transport;
using Milliseconds = std::chrono::milliseconds;

constexpr Milliseconds kWait{5000};
constexpr Milliseconds kStartLimit{10000};
using controls::kFire;
using controls::kForward;

// Object id of the n-th object (counter value) of server 1.
constexpr std::uint64_t objectId(std::uint32_t serverId, std::uint32_t counter) {
    return (static_cast<std::uint64_t>(serverId) << 32) | counter;
}

// One of our programs as these tests run it: with its console on a pipe.
inline ChildProcess::Options programOptions(std::string program,
                                            std::vector<std::string> args = {}) {
    ChildProcess::Options options;
    options.program = std::move(program);
    options.args = std::move(args);
    options.pipeInput = true;
    return options;
}

inline std::vector<ReceivedMessage> select(const std::vector<ReceivedMessage>& all,
                                           Transport transport, MessageType type) {
    std::vector<ReceivedMessage> out;
    for (const ReceivedMessage& received : all) {
        if (received.transport == transport && received.is(type)) {
            out.push_back(received);
        }
    }
    return out;
}

inline std::vector<ReceivedMessage> onTransport(const std::vector<ReceivedMessage>& all,
                                                Transport transport) {
    std::vector<ReceivedMessage> out;
    for (const ReceivedMessage& received : all) {
        if (received.transport == transport) {
            out.push_back(received);
        }
    }
    return out;
}

// A line the server prints of its own accord (connections, departures, faults), never a
// console reply.
inline bool isServerReport(const std::string& line) {
    for (const char* start : {"New TCP connection from: ", "TCP connection CLOSED", "Player ",
                              "Error", "Unknown message type"}) {
        if (line.rfind(start, 0) == 0) {
            return true;
        }
    }
    return false;
}

// A test with its own server; the clients share one network thread.
class ServerTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& client : clients_) {
            client->close();
        }
        if (server_) {
            server_->stop();
            // A sanitizer build of the server reports on its standard error.
            const std::string errors = server_->errorOutput();
            EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
            EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
        }
    }

    // Starts the server with these arguments (besides --port) and the other settings of
    // options; the test stops on failure.
    void startServer(std::vector<std::string> args,
                     ChildProcess::Options options = programOptions(MORVIK_SERVER_BINARY)) {
        options.args = std::move(args);
        auto server = std::make_unique<ServerProcess>(std::move(options), kStartLimit);
        port_ = server->port();
        server_ = std::move(server);
        ASSERT_NE(port_, 0) << "the server did not start";
    }

    ScriptedClient::Ptr connectClient() {
        auto client = ScriptedClient::create(io_.service());
        clients_.push_back(client);
        EXPECT_TRUE(client->connect("127.0.0.1", static_cast<std::uint16_t>(port_), kWait));
        return client;
    }

    ScriptedClient::Ptr joinClient() {
        auto client = ScriptedClient::create(io_.service());
        clients_.push_back(client);
        EXPECT_TRUE(client->join("127.0.0.1", static_cast<std::uint16_t>(port_), kWait));
        return client;
    }

    // Sends a console line and returns the n reply lines that follow it (fewer when they do
    // not come). Reports the server prints by itself as players come and go may arrive before
    // or among them, and are passed over.
    std::vector<std::string> askLines(const std::string& command, std::size_t n) {
        std::size_t from = server_->lines().size();
        server_->writeInput(command + "\n");
        std::vector<std::string> reply;
        while (reply.size() < n) {
            const long at = server_->waitForLineMatching(
                [](const std::string& line) { return !isServerReport(line); }, kWait, from);
            if (at < 0) {
                break;
            }
            reply.push_back(server_->lines()[static_cast<std::size_t>(at)]);
            from = static_cast<std::size_t>(at) + 1;
        }
        return reply;
    }

    std::string ask(const std::string& command) {
        const std::vector<std::string> reply = askLines(command, 1);
        return reply.empty() ? "<no reply>" : reply.front();
    }

    IoThread io_;  // declared first: outlives the clients
    std::vector<ScriptedClient::Ptr> clients_;
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
};

}  // namespace e2e
