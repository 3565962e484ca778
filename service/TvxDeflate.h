#pragma once

// The per-message compression extension of the client's WebSocket connections (client
// side): the library's permessage-deflate (negotiation, its inflate stream, incoming
// messages) with the system's own compression step for outgoing messages, on a deflate
// stream of its own. Included through service/TvxWsConfig.h only.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <websocketpp/extensions/permessage_deflate/enabled.hpp>
#include <websocketpp/processors/base.hpp>

#include "foundation/zThread.h"

// The library reaches its extension only through the configuration's type, so the
// members below hide the library's (init, negotiate, compress) for every connection
// whose configuration names this class.
//
// Threading: one object per connection, used under the connection's write lock (and on
// the network thread for negotiation and incoming messages), one message at a time.
template <typename config>
class TvxDeflate : public websocketpp::extensions::permessage_deflate::enabled<config> {
  typedef websocketpp::extensions::permessage_deflate::enabled<config> base;

 public:
  // Segment compressor of the connection, reused from message to message.
  zThread segmenter{8, 6};

  // Refuses an answer the library would not take whole (see Acceptable) before the library
  // sees it, so that a refused answer leaves no settings behind for the next one.
  websocketpp::err_str_pair negotiate(websocketpp::http::attribute_list const& offer) {
    namespace pmd = websocketpp::extensions::permessage_deflate;
    if (!Acceptable(offer)) {
      return {pmd::error::make_error_code(pmd::error::invalid_attribute_value), std::string()};
    }
    auto client = offer.find("client_max_window_bits");
    // The segment compressor deflates every segment with a fresh 32 KiB window. Its
    // output is only valid when the peer allows that window and keeps no context from
    // message to message (else the connection's own stream, which would not have seen
    // the message, and the peer's inflater would disagree on the history).
    bool fullWindow = client == offer.end() || client->second.empty() ||
                      WindowBits(client->second) == 15;
    segmentsAllowed = fullWindow && offer.count("client_no_context_takeover") != 0;
    // The library reads the same attributes: an empty value is the full window.
    windowBits = fullWindow ? 15 : WindowBits(client->second);
    flush = offer.count("client_no_context_takeover") != 0 ? Z_FULL_FLUSH : Z_SYNC_FLUSH;
    return base::negotiate(offer);
  }

  // Client side only: the stream below deflates with the client's negotiated window.
  websocketpp::lib::error_code init(bool is_server) {
    websocketpp::lib::error_code ec = base::init(is_server);
    if (!ec && !streamReady) {
      streamReady = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -windowBits,
                                 kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
      if (!streamReady) {
        namespace pmd = websocketpp::extensions::permessage_deflate;
        ec = pmd::error::make_error_code(pmd::error::zlib_error);
      }
    }
    initialised = !ec;
    return ec;
  }

  TvxDeflate() = default;
  TvxDeflate(const TvxDeflate&) = delete;
  TvxDeflate& operator=(const TvxDeflate&) = delete;
  ~TvxDeflate() {
    if (streamReady) deflateEnd(&stream);
  }

  // Appends the deflated `in` to `out` as a raw deflate stream ending with 00 00 FF FF.
  // `threads` below 2 (or a connection that cannot take segments) uses the connection's
  // own deflate stream; 2 or more cuts inputs above 1999 bytes into that many segments.
  // Errors: not negotiated (uninitialized), a failed segment (zlib_error), an input
  // beyond the deflate stream's 32-bit count (message_too_big).
  websocketpp::lib::error_code compress(std::string const& in, std::string& out, int threads,
                                        int level) {
    namespace pmd = websocketpp::extensions::permessage_deflate;
    if (!initialised) return pmd::error::make_error_code(pmd::error::uninitialized);
    if (threads >= 2 && segmentsAllowed && !in.empty()) {
      return CompressSegments(in, out, threads, level);
    }
    if (in.size() > std::numeric_limits<uInt>::max()) {
      return websocketpp::processor::error::make_error_code(
          websocketpp::processor::error::message_too_big);
    }
    if (in.empty()) return base::compress(in, out);  // 02 00 00 00 FF FF
    return CompressStream(in, out);
  }

 private:
  // zlib's default memory level: the library's stream uses 4, which takes half again as
  // long for the same level and window.
  static constexpr int kMemLevel = 8;

  bool initialised = false;
  bool segmentsAllowed = false;
  // The connection's deflate stream, used instead of the library's (same level, window
  // and flush, but kMemLevel): full flush without context takeover, sync flush with it.
  z_stream stream{};
  bool streamReady = false;
  int windowBits = 15;
  int flush = Z_SYNC_FLUSH;

  // Deflates `in` straight into the end of `out`, sized for the whole output at once.
  websocketpp::lib::error_code CompressStream(std::string const& in, std::string& out) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    // Room for the whole stream and its flush markers; a longer output takes more rounds.
    uLong room = std::min<uLong>(deflateBound(&stream, in.size()) + 16,
                                 std::numeric_limits<uInt>::max());
    do {
      const size_t used = out.size();
      out.resize(used + room);
      stream.next_out = reinterpret_cast<Bytef*>(&out[used]);
      stream.avail_out = static_cast<uInt>(room);
      const int status = deflate(&stream, flush);
      out.resize(out.size() - stream.avail_out);
      if (status != Z_OK && status != Z_BUF_ERROR) {
        namespace pmd = websocketpp::extensions::permessage_deflate;
        return pmd::error::make_error_code(pmd::error::zlib_error);
      }
      room = 1 << 16;
    } while (stream.avail_out == 0);
    return websocketpp::lib::error_code();
  }

  // True for an answer whose every attribute the library takes. The library records each
  // attribute as it reads it, so an answer refused halfway would leave its first settings
  // for the answer accepted after it. Window sizes must be written as RFC 7692 states them
  // (the library reads them with atoi into 8 bits, so "266" would pass as 10); a client
  // window of 8 is refused too: zlib deflates with no less than 9, which a peer inflating
  // with 256 bytes of history could not read.
  static bool Acceptable(websocketpp::http::attribute_list const& offer) {
    for (const auto& [name, value] : offer) {
      if (name == "server_no_context_takeover" || name == "client_no_context_takeover") {
        if (!value.empty()) return false;
      } else if (name == "server_max_window_bits") {
        if (WindowBits(value) < 8) return false;
      } else if (name == "client_max_window_bits") {
        if (!value.empty() && WindowBits(value) < 9) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  // A window size as written in an attribute: 1 or 2 digits without a leading zero, 8 to
  // 15; -1 for anything else.
  static int WindowBits(const std::string& text) {
    if (text.empty() || text.size() > 2 || text[0] == '0') return -1;
    int bits = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return -1;
      bits = bits * 10 + (c - '0');
    }
    return bits >= 8 && bits <= 15 ? bits : -1;
  }

  websocketpp::lib::error_code CompressSegments(std::string const& in, std::string& out,
                                                int threads, int level) {
    namespace pmd = websocketpp::extensions::permessage_deflate;
    const auto* data = reinterpret_cast<const unsigned char*>(in.data());
    segmenter.DivideJobs(in.size(), in.size() > 1999 ? threads : 1, level);
    if (!segmenter.CompressSegments(data)) {
      return pmd::error::make_error_code(pmd::error::zlib_error);
    }
    size_t start = out.size();
    uint64_t size = segmenter.ComputeMergeRawSize();
    out.resize(start + size);
    unsigned long written = size;
    if (!segmenter.MergeBuffersRaw(reinterpret_cast<unsigned char*>(&out[start]), written)) {
      out.resize(start);
      return pmd::error::make_error_code(pmd::error::zlib_error);
    }
    out.resize(start + written);
    return websocketpp::lib::error_code();
  }
};
