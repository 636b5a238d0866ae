#pragma once
// Two ports joined back to back in memory: what one end writes, the other end reads, in
// order, with the short read wait of a real port. Lets the protocol run against a peer
// (a scripted calculator in a test) without a pseudo terminal or a socket.

#include <memory>

#include "link/port.h"

namespace ostrel {

struct TMemoryLinePair {
  std::unique_ptr<TPort> first;
  std::unique_ptr<TPort> second;
};

// Both ends may be used from different threads. When one end is destroyed, the other
// reads what was left, then nothing, and its writes take nothing; its diagnostics say so.
TMemoryLinePair MakeMemoryLinePair();

}  // namespace ostrel
