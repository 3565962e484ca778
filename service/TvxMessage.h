#pragma once

// The message record of the client's WebSocket connections: the library's own message
// (opcode, payload, prepared, fin, terminal and compressed flags) plus the compression
// settings of one outgoing message. Included through service/TvxWsConfig.h only.

#include <cstdint>
#include <websocketpp/message_buffer/message.hpp>

// The library's message manager builds every message through one of the two
// constructors, so every message starts with the defaults below.
template <template <class> class con_msg_manager>
class TvxMessage : public websocketpp::message_buffer::message<con_msg_manager> {
  typedef websocketpp::message_buffer::message<con_msg_manager> base;

 public:
  typedef websocketpp::lib::shared_ptr<TvxMessage> ptr;
  typedef con_msg_manager<TvxMessage> con_msg_man_type;
  typedef typename con_msg_man_type::ptr con_msg_man_ptr;
  typedef typename con_msg_man_type::weak_ptr con_msg_man_weak_ptr;

  // The payload already is a raw deflate stream ending with 00 00 FF FF: a compressed
  // frame carries it as it is.
  bool alreadyDeflated = false;
  // Below 2: the connection's own deflate stream; 2 or more: the segment compressor with
  // that many segments.
  int32_t compressionThreads = 1;
  // Level of the segment compressor (the connection's stream keeps its own).
  int32_t compressionLevel = 6;

  // The library's record keeps no link to its manager here: the allocating manager never
  // recycles messages, so there is nothing to hand back.
  explicit TvxMessage(con_msg_man_ptr) : base(nullptr) {}
  TvxMessage(con_msg_man_ptr, websocketpp::frame::opcode::value op, size_t size = 128)
      : base(nullptr, op, size) {}
};
