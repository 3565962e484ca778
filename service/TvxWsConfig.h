#pragma once

// The WebSocket++ configurations of the service's client, over plain TCP and over TLS:
// the library's asio client configurations with the system's message record
// (TvxMessage: compression settings per message) and compression extension (TvxDeflate),
// whose offer in every opening handshake is
// "permessage-deflate; client_no_context_takeover; client_max_window_bits".
//
// Frame preparation of outgoing data messages is the system's own for both
// configurations (defined in TvxWsFrame.cpp): a compressed message is deflated by
// TvxDeflate::compress with the message's settings, or taken as it is when already
// deflated, loses its closing 00 00 FF FF and goes out with RSV1 set; an error of that
// step makes the library's send return it.
//
// This header pulls in the whole WebSocket library (~20 s per translation unit): include
// it only in the client's .cpp and in tests.

#include <websocketpp/config/asio_client.hpp>
#include <websocketpp/message_buffer/alloc.hpp>
#include <websocketpp/processors/hybi13.hpp>

#include "service/TvxDeflate.h"
#include "service/TvxMessage.h"

template <typename Library>
struct TvxWsConfig : public Library {
  typedef TvxWsConfig type;
  typedef TvxMessage<websocketpp::message_buffer::alloc::con_msg_manager> message_type;
  typedef websocketpp::message_buffer::alloc::con_msg_manager<message_type> con_msg_manager_type;
  typedef websocketpp::message_buffer::alloc::endpoint_msg_manager<con_msg_manager_type>
      endpoint_msg_manager_type;
  typedef TvxDeflate<typename Library::permessage_deflate_config> permessage_deflate_type;
};

typedef TvxWsConfig<websocketpp::config::asio_client> TvxAsioConfig;
typedef TvxWsConfig<websocketpp::config::asio_tls_client> TvxTlsConfig;

namespace websocketpp {
namespace processor {
template <>
lib::error_code hybi13<TvxAsioConfig>::prepare_data_frame(message_ptr in, message_ptr out);
template <>
lib::error_code hybi13<TvxTlsConfig>::prepare_data_frame(message_ptr in, message_ptr out);
}  // namespace processor
}  // namespace websocketpp
