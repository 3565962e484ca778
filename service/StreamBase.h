#pragma once

// StreamBase: the abstract base of every stream producer. The client creates one object per
// active stream definition, initialises it, runs it on a thread of its own, asks it to quit
// and deletes it, all through the virtual operations below (in this slot order). The base
// carries what every producer shares: name and definition, the ready, quit and pause flags,
// a mutex and condition variable for timed waits, the console thread, target registration
// and reset, and the readers of the stream's METADATA and of a route's INPUT.
//
// Threading: `quit` and `paused` are written by one thread (the quitting thread, the
// console) and read by the stream's thread: atomic flags. Quit takes no lock and may be
// called from any thread while the object lives. The console runs on a thread of its own
// (StartConsole) and ends within ConsoleInput::kPollMillis of quit being set, also while
// it waits on an idle terminal or after its input has ended.
//
// Lifetime: the client joins every stream's threads (JoinThreads) before it deletes any
// stream or target, because a console's "q" and "r" reach the other streams and the
// targets through the client.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <istream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ConsoleInput;
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
  // The operator console: reads words until quit is set or "q" is read. Only one-letter
  // words act (after lower-casing): "q" asks the whole service to quit
  // (WSOCK->SignalDone), "p" toggles paused, "r" runs ExecReset for every route in order.
  // At the end of its input it waits for quit without using the processor.
  virtual void RunTerminal();
  // Resets the target of route `route` (WSOCK->ResetTarget) and logs
  // "Reset Target: alias/database/table"; an index outside the routes does nothing.
  virtual void ExecReset(int32_t route);

  // Registers the target of every route in order (WSOCK->NewTarget, schema from the data
  // server's table file). At the first failure logs "Failed to register target:
  // alias/database/table" and returns false; the targets before it stay registered.
  bool InitTargets();
  // One string value of the stream's METADATA: true with `out` set and the value logged
  // (a key naming a password is logged without its value); false with one log line for a
  // missing key (or no METADATA object) and for a value that is not a string.
  bool ReadMetadata(const std::string& key, std::string& out);
  // The same for the INPUT of route `route`; false with "Invalid ROUTE[n]" for an index
  // outside the routes.
  bool ReadInput(int32_t route, const std::string& key, std::string& out);

  // How FindInput found a key.
  enum class Lookup { kFound, kMissing, kNotString };
  // The first member `key` of route `route`'s INPUT, without a log line: kFound with `out`
  // set, kNotString, or kMissing (also for no INPUT object and an index outside the routes).
  // For producers whose keys have log lines of their own.
  Lookup FindInput(int32_t route, const std::string& key, std::string& out) const;

  // Starts RunTerminal on a thread of its own, kept in threads.
  void StartConsole();
  // Joins every joinable thread in threads, in order. Owner's thread only.
  void JoinThreads();

  std::string name;
  StreamDef* definition;
  std::atomic<bool> ready{false};
  std::atomic<bool> quit{false};
  std::mutex mutex;                // the derived stream's timed waits
  std::condition_variable signal;  // Quit wakes it
  std::atomic<bool> paused{false};
  std::vector<std::thread> threads;  // extra threads (the console); owned
  // Where the console reads its words; null (the service) reads standard input. Set before
  // the console starts; not owned.
  std::istream* consoleIn = nullptr;

 protected:
  // Number of routes of the definition.
  int32_t RouteCount() const;
  // The console loop shared by every stream: reads words until quit is set, lower-cases
  // them and ignores every word longer than one character. "q" asks the whole service to
  // quit (WSOCK->SignalDone) and ends the loop, "p" toggles paused; any other character
  // goes to `onWord`. At the end of the input it waits on the signal until quit is set.
  void RunConsole(const std::function<void(char)>& onWord);

 private:
  bool NextConsoleWord(ConsoleInput& input, std::string& word);
};
