#include "live_source.h"

#include <chrono>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
void closeSocket(SocketHandle s) { closesocket(s); }
int pollOne(SocketHandle s, int ms) {
  WSAPOLLFD p{s, POLLRDNORM, 0};
  return WSAPoll(&p, 1, ms);
}
#else
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
void closeSocket(SocketHandle s) { close(s); }
int pollOne(SocketHandle s, int ms) {
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, ms);
}
#endif

#include "interrupt.h"

namespace spdemo {
namespace {

using Clock = std::chrono::steady_clock;

// The sender has stopped when nothing came for this long; before the first
// bytes the demo waits longer, for a sender that is still starting.
constexpr auto kSilenceEnds = std::chrono::seconds(3);
constexpr auto kFirstBytesWithin = std::chrono::seconds(10);
constexpr int kPollMs = 100;
constexpr std::size_t kReadBytes = 64 * 1024;

struct Address {
  bool udp = false;
  bool listen = false;
  std::string host;
  std::string port;
};

bool parseAddress(const std::string& input, Address& out) {
  std::string rest;
  if (input.rfind("udp://", 0) == 0) {
    out.udp = true;
    rest = input.substr(6);
  } else if (input.rfind("tcp://", 0) == 0) {
    rest = input.substr(6);
  } else {
    return false;
  }
  const std::size_t query = rest.find('?');
  if (query != std::string::npos) {
    out.listen = rest.compare(query + 1, std::string::npos, "listen") == 0;
    rest.resize(query);
  }
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon + 1 == rest.size()) return false;
  out.host = rest.substr(0, colon);
  out.port = rest.substr(colon + 1);
  return true;
}

class LiveSource : public PacketSource {
 public:
  ~LiveSource() override {
    if (socket_ != kNoSocket) closeSocket(socket_);
#if defined(_WIN32)
    if (started_) WSACleanup();
#endif
  }

  bool open(const Address& a, std::string& error) {
#if defined(_WIN32)
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      error = "the network cannot be used";
      return false;
    }
    started_ = true;
#endif
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = a.udp ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = a.udp || a.listen ? AI_PASSIVE : 0;
    addrinfo* found = nullptr;
    if (getaddrinfo(a.host.empty() ? nullptr : a.host.c_str(), a.port.c_str(), &hints, &found) !=
            0 ||
        !found) {
      error = "cannot resolve " + a.host + ":" + a.port;
      return false;
    }
    const bool ok = a.udp ? bindSocket(found) : a.listen ? acceptOne(found) : connectTo(found);
    freeaddrinfo(found);
    if (!ok) {
      error = std::string(a.udp      ? "cannot listen for datagrams on "
                          : a.listen ? "cannot accept on "
                                     : "cannot connect to ") +
              a.host + ":" + a.port;
      return false;
    }
    info_ = {1920, 1080, 25, 1};  // nominal: the stream itself tells the decoder
    header_ = vdstream::makeFileHeader(info_.width, info_.height, info_.rateNum, info_.rateDen,
                                       vdstream::Codec::None, vdstream::Framing::TransportStream);
    contents_ = std::string("live MPEG transport stream over ") + (a.udp ? "UDP" : "TCP") +
                ", handed over as it arrives";
    blocksArePictures_ = false;
    started_at_ = Clock::now();
    return true;
  }

  // Waits for the next bytes; false once the sender has stopped.
  bool next(std::vector<std::uint8_t>& block) override {
    const auto limit = received_ ? kSilenceEnds : kFirstBytesWithin;
    const auto since = Clock::now();
    while (Clock::now() - since < limit && !interrupted()) {
      const int ready = pollOne(socket_, kPollMs);
      if (ready < 0) break;
      if (ready == 0) continue;
      block.resize(kReadBytes);
      const auto got =
          recv(socket_, reinterpret_cast<char*>(block.data()), static_cast<int>(block.size()), 0);
      if (got <= 0) {
        if (!received_) error_ = "the sender closed the connection before sending anything";
        return false;
      }
      block.resize(static_cast<std::size_t>(got));
      received_ = true;
      due_ = std::chrono::duration<double>(Clock::now() - started_at_).count();
      return true;
    }
    if (!received_ && !interrupted()) error_ = "nothing arrived";
    return false;
  }

 private:
  bool bindSocket(const addrinfo* a) {
    for (; a; a = a->ai_next) {
      socket_ = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (socket_ == kNoSocket) continue;
      // A large receive buffer: a burst of a key picture must not overflow it.
      const int bytes = 4 * 1024 * 1024;
      setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
      if (bind(socket_, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return true;
      closeSocket(socket_);
      socket_ = kNoSocket;
    }
    return false;
  }

  bool connectTo(const addrinfo* a) {
    for (; a; a = a->ai_next) {
      socket_ = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (socket_ == kNoSocket) continue;
      if (connect(socket_, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return true;
      closeSocket(socket_);
      socket_ = kNoSocket;
    }
    return false;
  }

  bool acceptOne(const addrinfo* a) {
    if (!bindSocket(a)) return false;
    SocketHandle listener = socket_;
    socket_ = kNoSocket;
    if (listen(listener, 1) != 0 || pollOne(listener, 30000) <= 0) {
      closeSocket(listener);
      return false;
    }
    socket_ = accept(listener, nullptr, nullptr);
    closeSocket(listener);
    return socket_ != kNoSocket;
  }

  SocketHandle socket_ = kNoSocket;
  bool received_ = false;
  Clock::time_point started_at_{};
#if defined(_WIN32)
  bool started_ = false;
#endif
};

}  // namespace

bool isLiveAddress(const std::string& input) {
  return input.rfind("udp://", 0) == 0 || input.rfind("tcp://", 0) == 0;
}

std::unique_ptr<PacketSource> openLiveSource(const std::string& address, std::string& error) {
  Address parsed;
  if (!parseAddress(address, parsed)) {
    error = address + ": expected udp://HOST:PORT or tcp://HOST:PORT";
    return nullptr;
  }
  auto source = std::make_unique<LiveSource>();
  if (!source->open(parsed, error)) return nullptr;
  return source;
}

}  // namespace spdemo
