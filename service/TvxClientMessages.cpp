// The client's messages: sending frames, decoding incoming ones and the reply callbacks.

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "foundation/LogManager.h"
#include "foundation/ch_ThreadPool.h"
#include "record/ByteStream.h"
#include "service/AppMessage.h"
#include "service/MessageFormat.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"

namespace {

// Bytes as two-digit hex numbers separated by blanks: a peer's bytes never reach the log
// as they are (they could hold line breaks or terminal controls).
std::string HexBytes(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace

bool TvxClient::ImplSendMsg(const ByteStream& bs) {
  if (Status != kOpen || !frameSink) return false;
  const uint64_t size = BSPrefix.size() + bs.GetStreamSize();
  std::string error;
  const FrameResult result = frameSink(true, size, [&bs](char* payload) {
    std::memcpy(payload, BSPrefix.data(), BSPrefix.size());
    bs.GetStream(payload + BSPrefix.size());
  }, &error);
  if (result == FrameResult::kSent) return true;
  if (result == FrameResult::kError) {
    std::printf("> Error sending message: %s\n", error.c_str());
    std::string msid;
    if (bs.GetString(MessageKeys::kMsid, msid)) RemoveCallback(msid);
  }
  return false;
}

bool TvxClient::ImplSendMsg(const UpdateImage& image, std::unique_lock<std::mutex>& tableLock) {
  if (Status != kOpen || !frameSink) return false;
  std::string error;
  const FrameResult result =
      frameSink(true, BSPrefix.size() + image.Size(), [&](char* payload) {
        std::memcpy(payload, BSPrefix.data(), BSPrefix.size());
        image.Write(payload + BSPrefix.size());
        tableLock.unlock();  // the table is not read any more
      }, &error);
  if (result == FrameResult::kError) std::printf("> Error sending message: %s\n", error.c_str());
  return result == FrameResult::kSent;
}

bool TvxClient::SendMsg(const ByteStream& bs) { return ImplSendMsg(bs); }

bool TvxClient::SendMsg(const std::string& text) {
  if (Status != kOpen || !frameSink) return false;
  std::string error;
  const FrameResult result = frameSink(false, text.size(), [&text](char* payload) {
    std::memcpy(payload, text.data(), text.size());
  }, &error);
  if (result == FrameResult::kError) std::printf("> Error sending message: %s\n", error.c_str());
  return result == FrameResult::kSent;
}

void TvxClient::ReceiveFrame(std::string_view payload) {
  // A peer can send such frames without end: the log hears of them at most once a second.
  auto malformed = [this](const std::string& what) {
    uint64_t folded = 0;
    if (malformedFrameLog.Due(&folded)) {
      LogManager::Global << "Received Message, " + what + LogThrottle::Folded(folded);
    }
  };
  const size_t prefixSize = BSPrefix.size();
  if (payload.size() < prefixSize) {
    malformed("Too short: " + std::to_string(payload.size()) + " bytes");
    return;
  }
  if (payload.compare(0, prefixSize, BSPrefix) != 0) {
    malformed("Bad prefix: " + HexBytes(payload.substr(0, prefixSize)));
    return;
  }
  auto container = std::make_shared<ByteStream>(false);
  // A writable container copies the records, so the payload is only read.
  char* image = const_cast<char*>(payload.data()) + prefixSize;
  if (!container->LoadStream(image, payload.size() - prefixSize)) {
    malformed("Bad image: " + std::to_string(payload.size() - prefixSize) + " bytes");
    return;
  }
  std::string func, msid;
  if (!container->GetString(MessageKeys::kFunc, func)) return;
  if (!container->GetString(MessageKeys::kMsid, msid)) return;

  ch_ThreadPool* pool = TPOOL;
  if (pool == nullptr) return;
  try {
    // The futures are dropped: nobody waits for a callback.
    if (func == MessageKeys::kFuncError) {
      std::string detail;
      container->GetString(MessageKeys::kDetail, detail);
      pool->PushJob(&TvxClient::FailureCallback, std::move(msid), std::move(detail));
    } else {
      pool->PushJob(&TvxClient::SuccessCallback,
                    AppMessage{std::move(func), std::move(msid), std::move(container)});
    }
  } catch (const std::runtime_error&) {
    // The pool stopped during shutdown: no callback can run any more.
  }
}

void TvxClient::AddSuccessCallback(const std::string& msid,
                                   std::function<void(ByteStream&, std::shared_ptr<void>)> callback,
                                   std::shared_ptr<void> data) {
  std::lock_guard<std::mutex> lock(callbackMutex);
  successCallbacks[msid] = SuccessFunctionData{std::move(callback), std::move(data)};
}

void TvxClient::AddFailureCallback(const std::string& msid,
                                   std::function<void(std::string, std::shared_ptr<void>)> callback,
                                   std::shared_ptr<void> data) {
  std::lock_guard<std::mutex> lock(callbackMutex);
  failureCallbacks[msid] = FailureFunctionData{std::move(callback), std::move(data)};
}

void TvxClient::RemoveCallback(const std::string& msid) {
  std::lock_guard<std::mutex> lock(callbackMutex);
  successCallbacks.erase(msid);
  failureCallbacks.erase(msid);
}

namespace {

// Takes the entry of `msid` out of `map` under the client's callback lock; false when none.
template <class Map, class Entry>
bool TakeCallback(Map TvxClient::*map, const std::string& msid, Entry& entry) {
  TvxClient* client = WSOCK;
  if (client == nullptr) return false;
  std::lock_guard<std::mutex> lock(client->callbackMutex);
  auto it = (client->*map).find(msid);
  if (it == (client->*map).end()) return false;
  entry = std::move(it->second);
  (client->*map).erase(it);
  return true;
}

}  // namespace

void TvxClient::SuccessCallback(AppMessage message) {
  SuccessFunctionData entry;
  if (!TakeCallback(&TvxClient::successCallbacks, message.MSID, entry)) return;
  entry.callback(*message.container, entry.data);
}

void TvxClient::FailureCallback(std::string msid, std::string detail) {
  FailureFunctionData entry;
  if (!TakeCallback(&TvxClient::failureCallbacks, msid, entry)) return;
  entry.callback(std::move(detail), entry.data);
}
