#include <algorithm>
#include <websocketpp/utf8_validator.hpp>

#include "service/TvxWsConfig.h"

namespace {

// Frame preparation shared by both configurations: the library's steps (checks, masking,
// header) around the system's compression step.
template <typename Deflate, typename Rng, typename MessagePtr>
websocketpp::lib::error_code PrepareDataFrame(Deflate& deflate, bool masked, Rng& rng,
                                              MessagePtr in, MessagePtr out) {
  namespace ws = websocketpp;
  namespace perr = ws::processor::error;
  if (!in || !out) return perr::make_error_code(perr::invalid_arguments);
  ws::frame::opcode::value op = in->get_opcode();
  if (ws::frame::opcode::is_control(op)) return perr::make_error_code(perr::invalid_opcode);

  std::string& i = in->get_raw_payload();
  std::string& o = out->get_raw_payload();
  if (op == ws::frame::opcode::TEXT && !ws::utf8_validator::validate(i)) {
    return perr::make_error_code(perr::invalid_payload);
  }

  ws::frame::masking_key_type key;
  key.i = masked ? rng() : 0;
  bool compressed = deflate.is_enabled() && in->get_compressed();
  if (compressed) {
    if (in->alreadyDeflated) {
      o = i;
    } else if (ws::lib::error_code ec =
                   deflate.compress(i, o, in->compressionThreads, in->compressionLevel)) {
      return ec;
    }
    if (o.size() < 4) return perr::make_error_code(perr::general);
    o.resize(o.size() - 4);  // per-message deflate leaves the closing 00 00 FF FF off
    if (masked) ws::frame::byte_mask(o.begin(), o.end(), o.begin(), key);
  } else {
    o.resize(i.size());
    if (masked) {
      ws::frame::byte_mask(i.begin(), i.end(), o.begin(), key);
    } else {
      std::copy(i.begin(), i.end(), o.begin());
    }
  }

  ws::frame::basic_header h(op, o.size(), in->get_fin(), masked, compressed);
  ws::frame::extended_header e = masked ? ws::frame::extended_header(o.size(), key.i)
                                        : ws::frame::extended_header(o.size());
  out->set_header(ws::frame::prepare_header(h, e));
  out->set_prepared(true);
  out->set_opcode(op);
  return ws::lib::error_code();
}

}  // namespace

namespace websocketpp {
namespace processor {

template <>
lib::error_code hybi13<TvxAsioConfig>::prepare_data_frame(message_ptr in, message_ptr out) {
  return PrepareDataFrame(m_permessage_deflate, !base::m_server, m_rng, in, out);
}

template <>
lib::error_code hybi13<TvxTlsConfig>::prepare_data_frame(message_ptr in, message_ptr out) {
  return PrepareDataFrame(m_permessage_deflate, !base::m_server, m_rng, in, out);
}

}  // namespace processor
}  // namespace websocketpp
