// Incoming frames from the data server: any bytes go through the client's decoder and, when
// they form a reply, through the worker pool to the callbacks of "m1". Nothing may crash,
// read out of bounds or leak.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/LogManager.h"
#include "foundation/ch_ThreadPool.h"
#include "record/ByteStream.h"
#include "service/TvxClient.h"

namespace {

struct Harness {
  TvxClient client;
  ch_ThreadPool pool{1, 4};  // destroyed first: its jobs reach the client through WSOCK

  Harness() {
    WSOCK = &client;
    SetTPOOL(&pool);
  }
  ~Harness() {
    pool.JoinThreads();
    SetTPOOL(nullptr);
    WSOCK = nullptr;
  }

  void Register() {
    client.AddSuccessCallback("m1", [](ByteStream& bs, std::shared_ptr<void>) {
      ByteStream copy = bs.GetCopy();
      std::string text;
      copy.GetString("Detail", text);
    }, std::make_shared<int>(1));
    client.AddFailureCallback("m1", [](std::string detail, std::shared_ptr<void>) {
      detail.clear();
    }, nullptr);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  harness.Register();
  harness.client.ReceiveFrame(std::string_view(reinterpret_cast<const char*>(data), size));
  // No log file is open: drop the pending text so that it does not grow without bound.
  std::lock_guard<std::mutex> lock(LogManager::Global.mutex);
  LogManager::Global.text.clear();
  return 0;
}
