// Fuzz target: the compression negotiation. The input is the server's
// "Sec-WebSocket-Extensions" answer to the client's offer; the library parses its
// attributes and the extension negotiates them. When the answer is accepted, a message
// sent whole and one sent in segments must both inflate, with the client window the
// negotiation settled on, to the message itself.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <websocketpp/client.hpp>

#include "fuzz_scratch.h"
#include "support/Inflate.h"
#include "service/TvxWsConfig.h"

namespace {

using Processor = websocketpp::processor::hybi13<TvxAsioConfig>;
using MessagePtr = TvxAsioConfig::message_type::ptr;

// 2000 random letters six times: the repeats lie beyond every window below 2 KiB, also
// inside each of 4 segments, so a deflater using a larger window than the one agreed
// shows in the inflated result.
const std::string& Payload() {
  static const std::string payload = [] {
    std::mt19937 rng(7);
    std::string block(2000, '\0');
    for (char& c : block) c = static_cast<char>(rng() % 26 + 'a');
    std::string all;
    for (int i = 0; i < 6; ++i) all += block;
    return all;
  }();
  return payload;
}

// The client's window in the settings the negotiation settled on (the library writes
// client_max_window_bits=N there when N is below 15).
int ClientWindow(const std::string& settings) {
  const std::string name = "client_max_window_bits=";
  const size_t at = settings.find(name);
  return at == std::string::npos ? 15 : std::atoi(settings.c_str() + at + name.size());
}

// The payload of the frame prepared for a compressed message, unmasked; `rsv1` tells
// whether it went out deflated.
std::string SentPayload(Processor& processor, TvxAsioConfig::con_msg_manager_type& manager,
                        int threads, bool& rsv1) {
  MessagePtr in = manager.get_message(websocketpp::frame::opcode::BINARY, Payload().size());
  in->set_payload(Payload());
  in->set_compressed(true);
  in->compressionThreads = threads;
  MessagePtr out = manager.get_message();
  FUZZ_REQUIRE(!processor.prepare_data_frame(in, out));
  const std::string& header = out->get_header();
  rsv1 = static_cast<unsigned char>(header[0]) & 0x40;
  std::string payload = out->get_payload();
  const std::string key = header.substr(header.size() - 4);  // client frames are masked
  for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= key[i % 4];
  return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TvxAsioConfig::rng_type rng;
  auto manager = std::make_shared<TvxAsioConfig::con_msg_manager_type>();
  Processor processor(false, false, manager, rng);
  TvxAsioConfig::response_type response;
  response.replace_header("Sec-WebSocket-Extensions",
                          std::string(reinterpret_cast<const char*>(data), size));
  const websocketpp::err_str_pair settled = processor.negotiate_extensions(response);
  if (settled.first) return 0;
  z_stream inflater{};
  FUZZ_REQUIRE(inflateInit2(&inflater, -ClientWindow(settled.second)) == Z_OK);
  for (int threads : {1, 4, 1}) {
    bool rsv1 = false;
    const std::string payload = SentPayload(processor, *manager, threads, rsv1);
    std::string inflated;
    // Small steps, so that a match reaching past the agreed window fails the inflate.
    const bool inflates =
        rsv1 && testsupport::InflateMessage(inflater, payload, inflated, 256, Payload().size());
    FUZZ_REQUIRE(rsv1 ? inflates && inflated == Payload() : payload == Payload());
  }
  inflateEnd(&inflater);
  return 0;
}
