#include "service/StreamBase.h"

#include <unistd.h>

#include <chrono>

#include "service/ConsoleInput.h"
#include "service/TvxClient.h"

StreamBase::StreamBase(std::string name, StreamDef* def) : name(std::move(name)), definition(def) {}

StreamBase::~StreamBase() { JoinThreads(); }

void StreamBase::Quit() {
  quit = true;
  signal.notify_all();
}

StreamBase* StreamBase::GetSelf() { return this; }

void StreamBase::StartConsole() { threads.emplace_back([this] { RunTerminal(); }); }

void StreamBase::JoinThreads() {
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
}

bool StreamBase::NextConsoleWord(ConsoleInput& input, std::string& word) {
  if (quit) return false;
  if (input.ReadWord(word)) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
  }
  // End of input: nothing more can arrive, so sleep until the stream quits. The time-out
  // covers a Quit that signals between the test of quit and the wait.
  std::unique_lock<std::mutex> lock(mutex);
  while (!quit) signal.wait_for(lock, std::chrono::milliseconds(ConsoleInput::kPollMillis));
  return false;
}

void StreamBase::RunConsole(const std::function<void(char)>& onWord) {
  ConsoleInput input(consoleIn, STDIN_FILENO, quit);
  std::string word;
  while (NextConsoleWord(input, word)) {
    if (word.size() != 1) continue;
    if (word[0] == 'q') {
      WSOCK->SignalDone();
      return;
    }
    if (word[0] == 'p') {
      paused = !paused;
      continue;
    }
    onWord(word[0]);
  }
}

void StreamBase::RunTerminal() {
  RunConsole([this](char word) {
    if (word == 'r') {
      for (int32_t i = 0; i < RouteCount(); ++i) ExecReset(i);
    }
  });
}
