// A live MPEG transport stream from the network, as encoders and gateways
// send it: udp://HOST:PORT (datagrams to this machine; HOST is the address
// to listen on) or tcp://HOST:PORT (a connection to a sender serving the
// stream; with "?listen" the demo waits for the sender to connect). Bytes
// are pushed as they arrive, until the sender stops.
#pragma once

#include <memory>
#include <string>

#include "sources.h"

namespace spdemo {

bool isLiveAddress(const std::string& input);

// Null with error set when the address is malformed or cannot be opened.
std::unique_ptr<PacketSource> openLiveSource(const std::string& address, std::string& error);

}  // namespace spdemo
