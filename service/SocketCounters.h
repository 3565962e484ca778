#pragma once

// What the kernel knows of the bytes a connected TCP socket sends: how many the peer's side
// has acknowledged so far, how many still wait in the socket's send queue (not yet sent, or
// sent and not yet acknowledged), how many of those are not sent yet, and the room the peer
// last said it has. The link reads them to tell a server that reads slowly from
// one that stopped reading, and to count the socket's queue in its own.

#include <cstdint>

struct SocketCounters {
  uint64_t acked = 0;   // grows for the life of the connection
  uint64_t queued = 0;
  uint64_t held = 0;    // not sent yet (small writes wait a moment even with room)
  uint64_t window = 0;  // the peer's advertised receive window

  // The peer has no room for the bytes that wait: it is not reading as fast as we send.
  bool PeerFull() const { return held > 0 && window < held; }
};

// False, with `out` left as it was, when `fd` is not a TCP socket the kernel will describe.
bool ReadSocketCounters(int fd, SocketCounters* out);
