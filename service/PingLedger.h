#pragma once

// PingLedger: the numbers of the link's pings and the pongs that answer them.
//
// The data server does not acknowledge what it reads; it answers pings, and it reads a
// connection in order, so the answer to a ping shows that it read every frame queued before
// that ping. Each ping carries a payload of its own: a random part drawn anew for each
// connection, then the ping's number in decimal. Numbers grow for the life of the ledger.
// Only a pong carrying exactly the payload of a ping of the current connection that is not
// yet answered counts as an answer: a peer may send pongs nobody asked for (heartbeats),
// with any payload, and repeat old ones; none of those confirms anything.
//
// Threading: any thread. The part has a small lock of its own; the numbers are atomic, so
// the update cycle reads them without it. The caller that queues pings keeps the order of
// their numbers the order of the queue (the link takes Next under its send lock).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class PingLedger {
 public:
  // Starts numbering (the first ping gets 1); before, `ticket` and `confirmed` stay 0 and a
  // frame counts as read once the link took it.
  void Start();
  // A new connection: a new random part, so that no ping of an earlier connection can be
  // answered, and nothing asked on it yet.
  void NewConnection();
  // The payload of the next ping; its number, stored in `*number`, is taken now, before the
  // ping is queued, since its answer may come at once.
  std::string Next(uint64_t* number);
  // True when `pong` answers a ping of the current connection not answered yet: `confirmed`
  // becomes its number (it answers every earlier ping too). False, changing nothing, for any
  // other pong.
  bool Answer(std::string_view pong);
  // Some ping of the current connection still waits for its answer.
  bool Asked() const { return confirmed + 1 < ticket; }

  // The number the next ping will carry: a frame queued before it is read is confirmed by
  // the answer to that ping or a later one.
  std::atomic<uint64_t> ticket{0};
  // The highest number answered.
  std::atomic<uint64_t> confirmed{0};

 private:
  std::mutex mutex_;
  std::string part_;  // of the current connection
};
