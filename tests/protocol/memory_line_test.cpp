// The protocol over an in-memory line: the port comes from the target's factory, so a
// peer in the test answers without a pty or a socket.

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "link/memory_line.h"
#include "protocol/fx9860sio.h"
#include "support/recording_ui.h"
#include "support/scripted_peer.h"

namespace ostrel::testing {
namespace {

// Reads `count` bytes from the port (a generous number of empty reads at the most).
ByteVector Take(TPort& port, std::size_t count) {
  ByteVector bytes;
  for (int attempt = 0; bytes.size() < count && attempt < 500; ++attempt) {
    std::uint8_t piece[16];
    const std::size_t got = port.ReadBytes(piece, std::min(sizeof piece, count - bytes.size()));
    bytes.insert(bytes.end(), piece, piece + got);
  }
  return bytes;
}

TEST(ProtocolOverAMemoryLine, EveryOpenTakesItsPortFromTheFactory) {
  TMemoryLinePair line = MakeMemoryLinePair();
  std::vector<std::string> connections;
  TLinkTarget target;
  target.port_factory = [&](LinkKind kind, const std::string& connection) -> std::unique_ptr<TPort> {
    EXPECT_EQ(kind, LinkKind::Usb);
    connections.push_back(connection);
    return std::move(line.first);
  };
  RecordingUi ui;
  TFX9860sio sio(LinkKind::Usb, ui.Ui(), target);

  std::unique_ptr<TPort> peer = std::move(line.second);
  ByteVector seen;
  std::thread calculator([&] {
    seen = Take(*peer, 6);
    const ByteVector ack = MakePacket(0x06, "00");
    peer->Write(ack.data(), static_cast<std::uint32_t>(ack.size()));
  });
  EXPECT_EQ(sio.FStart(), 0);
  calculator.join();
  EXPECT_EQ(seen, MakePacket(0x05, "00"));
  EXPECT_EQ(sio.ReceivedHeader()[0], 0x06);
  EXPECT_EQ(connections, std::vector<std::string>{sio.UsbConnection()});
  sio.FStop();
}

}  // namespace
}  // namespace ostrel::testing
