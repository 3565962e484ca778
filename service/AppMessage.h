#pragma once

// AppMessage: one decoded reply of the data server, handed from the network thread to a
// pool worker that runs the reply's success callback (TvxClient::SuccessCallback).

#include <memory>
#include <string>

#include "record/ByteStream.h"

struct AppMessage {
  std::string Func;  // the text record "Func"
  std::string MSID;  // the text record "MSID"
  // The whole decoded reply, a writable container holding copies of the frame's records;
  // shared by every copy of the message and freed with the last.
  std::shared_ptr<ByteStream> container;
};
