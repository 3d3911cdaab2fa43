#pragma once

#include "gateway/Gateway.h"
#include "gateway/KeyRecord.h"
#include "gateway/base/Settings.h"
#include "support/FakeLockServer.h"
#include "support/KeyRequests.h"
#include "support/LogRecorder.h"
#include "support/Recorder.h"
#include "support/TestClient.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A gateway (or window) listening on a port the system chooses, its link to linkPort on this
// machine; the waits are the programs' own until a test sets its own.
inline gateway::GatewayOptions testGatewayOptions(std::uint16_t linkPort)
{
    gateway::GatewayOptions options;
    options.listenerPort = 0;
    options.linkHost = "127.0.0.1";
    options.linkPort = linkPort;
    return options;
}

// A gateway against an in-process fake lock server, with its log recorded: where the tests
// of the whole path (listener, handler, link) start.
class GatewayFixture
{
public:
    struct Start
    {
        int replyWaitMs = 5000;
        int terminateWaitMs = gateway::settings::terminateWaitMs;
        bool connectLink = true;
    };

    // The listener first, then the link, as the programs start. False when the server did
    // not get the link.
    bool startGateway(Start start)
    {
        gateway::GatewayOptions options = testGatewayOptions(server.port());
        options.replyWaitMs = start.replyWaitMs;
        options.terminateWaitMs = start.terminateWaitMs;
        gateway.emplace(options, log.sink());
        gateway->setRecordSink([this](const gateway::KeyRecord& record) { records.add(record); });
        gateway->startListener();
        if (!start.connectLink) {
            return true;
        }
        gateway->connectLink();
        return server.waitForPeer();
    }
    bool startGateway() { return startGateway(Start{}); }

    // A new requesting client of the gateway.
    TestClient client() { return TestClient(gateway->listener().port()); }

    // Clients at once, each on a connection and thread of its own, each sending requestsEach
    // requests (requestForRoom) for rooms 1000 + client * 10 + request, each once the one
    // before is answered. answered(room, answer) runs on the client's thread for every
    // request; nullopt: no answer came.
    void requestFromManyClients(
        int clients, int requestsEach,
        const std::function<void(int room, const std::optional<std::string>& answer)>& answered)
    {
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                TestClient requester = client();
                for (int r = 0; r < requestsEach; ++r) {
                    const int room = 1000 + c * 10 + r;
                    requester.send(requestForRoom(room));
                    answered(room, requester.readLine());
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }

    // The record of the one request for the room, once the records have come.
    gateway::KeyRecord recordFor(const gateway::Text& room)
    {
        for (const gateway::KeyRecord& record : records.items()) {
            if (record.request && record.request->room == room) {
                return record;
            }
        }
        ADD_FAILURE() << "no record for the room";
        return {};
    }

    FakeLockServer server;
    LogRecorder log;
    Recorder<gateway::KeyRecord> records;
    std::optional<gateway::Gateway> gateway;
};
