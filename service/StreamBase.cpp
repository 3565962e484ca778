#include "service/StreamBase.h"

StreamBase::StreamBase(std::string name, StreamDef* def) : name(std::move(name)), definition(def) {}

StreamBase::~StreamBase() {
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
}

void StreamBase::Quit() {
  quit = true;
  signal.notify_all();
}

StreamBase* StreamBase::GetSelf() { return this; }
