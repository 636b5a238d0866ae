#include "support/scripted_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ostrel::testing {

namespace {

std::string TwoHex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the complete packet at the start of `bytes`, 0 when more bytes are needed.
std::size_t PacketLength(const ByteVector& bytes) {
  if (bytes.size() < 4) return 0;
  std::size_t length = 6;
  if (bytes[3] == '1') {
    if (bytes.size() < 8) return 0;
    std::size_t size = 0;
    for (int i = 4; i < 8; ++i) {
      int digit = HexValue(bytes[static_cast<std::size_t>(i)]);
      size = size * 16 + static_cast<std::size_t>(digit < 0 ? 0 : digit);
    }
    length = 8 + size + 2;
  }
  return bytes.size() >= length ? length : 0;
}

void WriteAll(int fd, const ByteVector& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

ByteVector BytesOf(std::string_view text) { return ByteVector(text.begin(), text.end()); }

ByteVector EscapeBytes(std::span<const std::uint8_t> raw) {
  ByteVector wire;
  for (std::uint8_t b : raw) {
    if (b < 0x20) {
      wire.push_back(0x5C);
      wire.push_back(static_cast<std::uint8_t>(b + 0x20));
    } else if (b == 0x5C) {
      wire.push_back(0x5C);
      wire.push_back(0x5C);
    } else {
      wire.push_back(b);
    }
  }
  return wire;
}

ByteVector MakePacket(std::uint8_t type, std::string_view subtype, std::span<const std::uint8_t> data,
                      int checksum_delta) {
  ByteVector packet;
  packet.reserve(8 + data.size() + 2);
  packet.push_back(type);
  packet.insert(packet.end(), subtype.begin(), subtype.end());
  packet.push_back(data.empty() ? '0' : '1');
  if (!data.empty()) {
    std::string size = TwoHex(static_cast<unsigned>(data.size()), 4);
    packet.insert(packet.end(), size.begin(), size.end());
    packet.insert(packet.end(), data.begin(), data.end());
  }
  unsigned sum = 0;
  for (std::size_t i = 1; i < packet.size(); ++i) sum += packet[i];
  std::string checksum = TwoHex((0x100 - (sum & 0xFF) + static_cast<unsigned>(checksum_delta)) & 0xFF, 2);
  packet.insert(packet.end(), checksum.begin(), checksum.end());
  return packet;
}

ByteVector MakePacket(std::uint8_t type, std::string_view subtype, std::string_view data, int checksum_delta) {
  ByteVector bytes = BytesOf(data);
  return MakePacket(type, subtype, std::span<const std::uint8_t>(bytes), checksum_delta);
}

ScriptedPeer::ScriptedPeer() {
  socket_path_ = folder_.File("link.sock");

  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path_.c_str(), sizeof address.sun_path - 1);
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 4) != 0) {
    throw std::runtime_error("cannot serve " + socket_path_ + ": " + std::strerror(errno));
  }
  thread_ = std::thread([this] { Serve(); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  ::unlink(socket_path_.c_str());
}

void ScriptedPeer::AddReply(ByteVector bytes, std::chrono::milliseconds byte_gap) {
  std::lock_guard lock(mutex_);
  replies_.push_back({std::move(bytes), byte_gap});
}

void ScriptedPeer::SendReply(int client, const ByteVector& bytes, std::chrono::milliseconds byte_gap) {
  if (byte_gap.count() <= 0) {
    WriteAll(client, bytes);
    return;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(byte_gap);
    WriteAll(client, ByteVector{bytes[i]});
  }
}

std::vector<ByteVector> ScriptedPeer::Packets() const {
  std::lock_guard lock(mutex_);
  return packets_;
}

ByteVector ScriptedPeer::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

bool ScriptedPeer::WaitForPackets(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return packets_.size() >= count; });
}

void ScriptedPeer::Serve() {
  int client = -1;
  while (!stop_) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {client, POLLIN, 0}};
    if (::poll(fds, client >= 0 ? 2 : 1, 20) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      int accepted = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted >= 0) {
        // One connection at a time: a new one replaces the old (the PC reconnects).
        if (client >= 0) ::close(client);
        client = accepted;
        std::lock_guard lock(mutex_);
        pending_.clear();
      }
      continue;
    }
    if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      std::uint8_t buffer[4096];
      ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(client);
        client = -1;
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), buffer, buffer + n);
        pending_.insert(pending_.end(), buffer, buffer + n);
      }
      HandleInput(client);
    }
  }
  if (client >= 0) ::close(client);
}

void ScriptedPeer::HandleInput(int client) {
  for (;;) {
    Reply reply{{}, std::chrono::milliseconds(0)};
    {
      std::lock_guard lock(mutex_);
      while (!pending_.empty() && pending_.front() == 0x00) pending_.erase(pending_.begin());
      std::size_t length = PacketLength(pending_);
      if (length == 0) return;
      packets_.emplace_back(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
      if (!replies_.empty()) {
        reply = std::move(replies_.front());
        replies_.pop_front();
      }
    }
    changed_.notify_all();
    if (!reply.bytes.empty()) SendReply(client, reply.bytes, reply.byte_gap);
  }
}

}  // namespace ostrel::testing
