#pragma once

// StreamBase: the abstract base of every stream producer. The client creates one object per
// active stream definition, initialises it, runs it on a thread of its own, asks it to quit
// and deletes it, all through the virtual operations below (in this slot order).
//
// Threading: `quit` and `paused` are written by one thread (the quitting thread, the
// console) and read by the stream's thread: atomic flags. Quit takes no lock and may be
// called from any thread while the object lives.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct StreamDef;

class StreamBase {
 public:
  // `def` lives in ConfigParser::Global and outlives the stream; not owned.
  StreamBase(std::string name, StreamDef* def);
  // Joins the stream's extra threads (its console), in order.
  virtual ~StreamBase();
  StreamBase(const StreamBase&) = delete;
  StreamBase& operator=(const StreamBase&) = delete;

  // Reads the stream's keys and registers its targets; sets ready on success.
  virtual bool Init() = 0;
  // The stream's thread body; returns once quit is set.
  virtual void Run() = 0;
  // Sets quit and wakes every waiter of the signal.
  virtual void Quit();
  virtual StreamBase* GetSelf();

  std::string name;
  StreamDef* definition;
  std::atomic<bool> ready{false};
  std::atomic<bool> quit{false};
  std::mutex mutex;                // the derived stream's timed waits
  std::condition_variable signal;  // Quit wakes it
  std::atomic<bool> paused{false};
  std::vector<std::thread> threads;  // extra threads (the console); owned
};
