// A peer that answers every command line with one prepared reply, sent
// straight from memory: the server does no formatting and no copying, so a
// block comparison measures the clients, not the instrument.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

#include "raw_clients.h"

namespace tessel::bench {

class BlockServer {
public:
    // Listens on 127.0.0.1 (an ephemeral port) and serves every connection
    // on one thread until destroyed.
    explicit BlockServer(std::vector<uint8_t> reply);
    ~BlockServer();
    BlockServer(const BlockServer&) = delete;
    BlockServer& operator=(const BlockServer&) = delete;

    uint16_t Port() const { return port_; }

private:
    void Serve();

    std::vector<uint8_t> reply_;
    Fd listener_;
    Fd stopRead_, stopWrite_;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace tessel::bench
