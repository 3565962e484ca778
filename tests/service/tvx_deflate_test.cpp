#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <websocketpp/client.hpp>

#include "service/TvxWsConfig.h"
#include "support/Inflate.h"
#include "support/WireEncoder.h"
#include "tools/standin/StandInServer.h"

namespace {

using Processor = websocketpp::processor::hybi13<TvxAsioConfig>;
using MessagePtr = TvxAsioConfig::message_type::ptr;
namespace op = websocketpp::frame::opcode;

const std::string kTail("\0\0\xFF\xFF", 4);

// One frame as it goes on the wire, taken apart by hand.
struct WireFrame {
  bool fin = false, rsv1 = false, masked = false;
  int opcode = -1;
  std::string payload;  // unmasked
};

WireFrame ParseFrame(const std::string& header, const std::string& maskedPayload) {
  WireFrame f;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(header.at(i)); };
  f.fin = byte(0) & 0x80;
  f.rsv1 = byte(0) & 0x40;
  f.opcode = byte(0) & 0x0F;
  f.masked = byte(1) & 0x80;
  uint64_t length = byte(1) & 0x7F;
  size_t pos = 2;
  int extra = length == 126 ? 2 : length == 127 ? 8 : 0;
  if (extra) length = 0;
  for (int k = 0; k < extra; k++) length = (length << 8) | byte(pos++);
  EXPECT_EQ(length, maskedPayload.size());
  std::string key = f.masked ? header.substr(pos, 4) : std::string(4, '\0');
  EXPECT_EQ(header.size(), pos + (f.masked ? 4 : 0));
  f.payload = maskedPayload;
  for (size_t i = 0; i < f.payload.size(); i++) f.payload[i] ^= key[i % 4];
  return f;
}

std::string InflateFresh(const std::string& payload, int windowBits = 15) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -windowBits), Z_OK);
  std::string out;
  EXPECT_TRUE(testsupport::InflateMessage(s, payload, out));
  inflateEnd(&s);
  return out;
}

std::string Payload(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    if (rng() % 3 == 0) {
      for (int k = 0; k < 200; k++) s += static_cast<char>(rng());
    } else {
      s += "row " + std::to_string(rng() % 5000) + ";Graz;" + std::to_string(rng() % 90) + "\n";
    }
  }
  s.resize(n);
  return s;
}

// A client-side processor as a connection holds it, optionally after the server's
// answer to the handshake.
class FrameTest : public ::testing::Test {
 protected:
  TvxAsioConfig::rng_type rng;
  TvxAsioConfig::con_msg_manager_type::ptr manager =
      std::make_shared<TvxAsioConfig::con_msg_manager_type>();
  Processor processor{false, false, manager, rng};

  void Accept(const std::string& response) {
    TvxAsioConfig::response_type r;
    r.replace_header("Sec-WebSocket-Extensions", response);
    websocketpp::err_str_pair result = processor.negotiate_extensions(r);
    ASSERT_FALSE(result.first) << result.first.message();
  }

  MessagePtr Message(const std::string& payload, int threads = 1, op::value code = op::BINARY) {
    MessagePtr m = manager->get_message(code, payload.size());
    m->set_payload(payload);
    m->set_compressed(true);
    m->compressionThreads = threads;
    return m;
  }

  websocketpp::lib::error_code Prepare(MessagePtr in, WireFrame& frame) {
    MessagePtr out = manager->get_message();
    websocketpp::lib::error_code ec = processor.prepare_data_frame(in, out);
    if (!ec) {
      EXPECT_TRUE(out->get_prepared());
      EXPECT_EQ(out->get_opcode(), in->get_opcode());
      frame = ParseFrame(out->get_header(), out->get_payload());
    }
    return ec;
  }
};

TEST_F(FrameTest, MessagesStartWithTheDefaultSettings) {
  for (MessagePtr m : {manager->get_message(), manager->get_message(op::BINARY, 10)}) {
    EXPECT_FALSE(m->alreadyDeflated);
    EXPECT_EQ(m->compressionThreads, 1);
    EXPECT_EQ(m->compressionLevel, 6);
    EXPECT_FALSE(m->get_compressed());
    EXPECT_TRUE(m->get_fin());
    EXPECT_FALSE(m->get_prepared());
  }
}

TEST_F(FrameTest, OfferOfEveryHandshake) {
  TvxAsioConfig::request_type request;
  websocketpp::uri_ptr uri = std::make_shared<websocketpp::uri>("ws://localhost:9002/?login=api");
  ASSERT_FALSE(processor.client_handshake_request(request, uri, {}));
  EXPECT_EQ(request.get_header("Sec-WebSocket-Extensions"),
            "permessage-deflate; client_no_context_takeover; client_max_window_bits");
}

// Each message inflates alone with a fresh inflater, whatever road compressed it.
TEST_F(FrameTest, CompressedFramesInflateOneByOne) {
  Accept("permessage-deflate; client_no_context_takeover");
  std::mt19937 rng(11);
  for (int round = 0; round < 40; round++) {
    size_t size = round < 4 ? std::vector<size_t>{1, 1999, 2000, 10000}[round] : rng() % 300000;
    int threads = static_cast<int>(rng() % 6);
    std::string payload = Payload(size, round);
    WireFrame f;
    ASSERT_FALSE(Prepare(Message(payload, threads), f));
    EXPECT_TRUE(f.fin && f.rsv1 && f.masked);
    EXPECT_EQ(f.opcode, op::BINARY);
    ASSERT_GE(f.payload.size(), 1u);
    EXPECT_NE(f.payload.substr(f.payload.size() - std::min<size_t>(4, f.payload.size())), kTail);
    EXPECT_TRUE(InflateFresh(f.payload) == payload) << "size " << size << " threads " << threads;
  }
}

TEST_F(FrameTest, EmptyPayloadIsAnEmptyFixedBlock) {
  Accept("permessage-deflate; client_no_context_takeover");
  for (int threads : {1, 4}) {
    WireFrame f;
    ASSERT_FALSE(Prepare(Message("", threads), f));
    EXPECT_TRUE(f.rsv1);
    EXPECT_EQ(f.payload, std::string("\x02\x00", 2));
    EXPECT_EQ(InflateFresh(f.payload), "");
  }
}

TEST_F(FrameTest, AlreadyDeflatedPayloadIsTakenAsItIs) {
  Accept("permessage-deflate; client_no_context_takeover");
  std::string text = Payload(5000, 3), deflated;
  z_stream s{};
  ASSERT_EQ(deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  deflated.resize(deflateBound(&s, text.size()) + 16);
  s.next_in = reinterpret_cast<unsigned char*>(text.data());
  s.avail_in = static_cast<uInt>(text.size());
  s.next_out = reinterpret_cast<unsigned char*>(deflated.data());
  s.avail_out = static_cast<uInt>(deflated.size());
  ASSERT_EQ(deflate(&s, Z_SYNC_FLUSH), Z_OK);
  deflated.resize(s.total_out);
  deflateEnd(&s);

  MessagePtr m = Message(deflated);
  m->alreadyDeflated = true;
  WireFrame f;
  ASSERT_FALSE(Prepare(m, f));
  EXPECT_EQ(f.payload, deflated.substr(0, deflated.size() - 4));
  EXPECT_TRUE(InflateFresh(f.payload) == text);

  MessagePtr tooShort = Message("abc");
  tooShort->alreadyDeflated = true;
  EXPECT_EQ(Prepare(tooShort, f),
            websocketpp::processor::error::make_error_code(websocketpp::processor::error::general));
}

TEST_F(FrameTest, DeclinedExtensionSendsPlainFrames) {
  std::string payload = Payload(70000, 4);
  WireFrame f;
  ASSERT_FALSE(Prepare(Message(payload, 4), f));
  EXPECT_FALSE(f.rsv1);
  EXPECT_TRUE(f.masked);
  EXPECT_TRUE(f.payload == payload);
  ASSERT_FALSE(Prepare(Message("hi", 1, op::TEXT), f));
  EXPECT_EQ(f.opcode, op::TEXT);
  EXPECT_EQ(f.payload, "hi");
}

// Window sizes not written as the RFC states them (the library would read "266" into
// 8 bits as 10) and a client window of 8, which zlib cannot deflate with, turn the
// extension down: frames go out plain.
TEST_F(FrameTest, WindowAnswersOutsideTheRangeLeaveFramesPlain) {
  const std::string head = "permessage-deflate; client_no_context_takeover; ";
  for (const char* answer : {"client_max_window_bits=266", "client_max_window_bits=010",
                             "client_max_window_bits=8", "server_max_window_bits=265",
                             "server_max_window_bits"}) {
    Processor p{false, false, manager, rng};
    TvxAsioConfig::response_type r;
    r.replace_header("Sec-WebSocket-Extensions", head + answer);
    EXPECT_FALSE(p.negotiate_extensions(r).first);
    MessagePtr out = manager->get_message();
    ASSERT_FALSE(p.prepare_data_frame(Message(Payload(5000, 1), 4), out));
    EXPECT_FALSE(static_cast<unsigned char>(out->get_header()[0]) & 0x40) << answer;
  }
}

TEST_F(FrameTest, BadMessagesAreRefused) {
  namespace perr = websocketpp::processor::error;
  WireFrame f;
  EXPECT_EQ(processor.prepare_data_frame(nullptr, manager->get_message()),
            perr::make_error_code(perr::invalid_arguments));
  EXPECT_EQ(Prepare(Message("x", 1, op::PING), f), perr::make_error_code(perr::invalid_opcode));
  EXPECT_EQ(Prepare(Message("\xC3\x28", 1, op::TEXT), f),
            perr::make_error_code(perr::invalid_payload));
}

// A server that limits the client's window gets frames its smaller window can inflate,
// also when the message asks for segments (each segment would use a 32 KiB window).
TEST_F(FrameTest, LimitedWindowKeepsTheConnectionStream) {
  Accept("permessage-deflate; client_no_context_takeover; client_max_window_bits=10");
  std::string payload = Payload(200000, 5);
  WireFrame f;
  ASSERT_FALSE(Prepare(Message(payload, 4), f));
  EXPECT_TRUE(InflateFresh(f.payload, 10) == payload);
}

// Without client_no_context_takeover the receiver keeps one inflater for the whole
// connection: every message must continue the same history.
TEST_F(FrameTest, ContextTakeoverKeepsOneHistory) {
  Accept("permessage-deflate");
  z_stream s{};
  ASSERT_EQ(inflateInit2(&s, -15), Z_OK);
  for (int round = 0; round < 6; round++) {
    std::string payload = Payload(30000, 100 + round);  // later messages refer back
    WireFrame f;
    ASSERT_FALSE(Prepare(Message(payload, round % 2 ? 4 : 1), f));
    std::string out;
    ASSERT_TRUE(testsupport::InflateMessage(s, f.payload, out)) << "round " << round;
    EXPECT_TRUE(out == payload);
  }
  inflateEnd(&s);
}

// The TLS configuration prepares its frames the same way.
TEST(TlsFrameTest, CompressedFrameInflates) {
  TvxTlsConfig::rng_type rng;
  auto manager = std::make_shared<TvxTlsConfig::con_msg_manager_type>();
  websocketpp::processor::hybi13<TvxTlsConfig> processor(true, false, manager, rng);
  TvxTlsConfig::response_type r;
  r.replace_header("Sec-WebSocket-Extensions", "permessage-deflate; client_no_context_takeover");
  ASSERT_FALSE(processor.negotiate_extensions(r).first);
  for (int threads : {1, 3}) {
    std::string payload = Payload(50000, 9);
    TvxTlsConfig::message_type::ptr in = manager->get_message(op::BINARY, payload.size());
    in->set_payload(payload);
    in->set_compressed(true);
    in->compressionThreads = threads;
    TvxTlsConfig::message_type::ptr out = manager->get_message();
    ASSERT_FALSE(processor.prepare_data_frame(in, out));
    WireFrame f = ParseFrame(out->get_header(), out->get_payload());
    EXPECT_TRUE(f.rsv1 && f.masked);
    EXPECT_TRUE(InflateFresh(f.payload) == payload);
  }
}

class DeflateTest : public ::testing::Test {
 protected:
  TvxAsioConfig::permessage_deflate_type deflate;

  void Negotiate(const websocketpp::http::attribute_list& response) {
    ASSERT_FALSE(deflate.negotiate(response).first);
    ASSERT_FALSE(deflate.init(false));
  }
};

TEST_F(DeflateTest, NotNegotiatedIsAnError) {
  std::string out = "kept";
  websocketpp::lib::error_code ec = deflate.compress("abc", out, 1, 6);
  namespace pmd = websocketpp::extensions::permessage_deflate;
  EXPECT_EQ(ec, pmd::error::make_error_code(pmd::error::uninitialized));
  EXPECT_EQ(ec.value(), 8);
  EXPECT_EQ(out, "kept");
}

TEST_F(DeflateTest, SegmentCountFollowsTheInputSize) {
  Negotiate({{"client_no_context_takeover", ""}});
  deflate.segmenter.hardwareThreads = 0;
  for (size_t size : {1999u, 2000u}) {
    std::string in = Payload(size, 6), out = "prefix";
    ASSERT_FALSE(deflate.compress(in, out, 4, 6));
    EXPECT_EQ(deflate.segmenter.segments.size(), size == 1999 ? 1u : 4u);
    ASSERT_EQ(out.substr(0, 6), "prefix") << "output is appended";
    EXPECT_EQ(out.substr(out.size() - 4), kTail);
    EXPECT_TRUE(InflateFresh(out.substr(6, out.size() - 10)) == in);
  }
}

// The real thing: a client of this configuration sends to the stand-in data server over
// loopback, which inflates (or not) and decodes every message.
class LinkTest : public ::testing::TestWithParam<bool> {};

TEST_P(LinkTest, StandInReceivesTheExactBytes) {
  const bool decline = GetParam();
  standin::StandInServer server;
  server.SetDeclineCompression(decline);
  std::string error;
  ASSERT_TRUE(server.Start(0, &error)) << error;

  websocketpp::client<TvxAsioConfig> client;
  client.clear_access_channels(websocketpp::log::alevel::all);
  client.clear_error_channels(websocketpp::log::elevel::all);
  client.init_asio();
  websocketpp::connection_hdl hdl;
  std::promise<bool> opened;
  client.set_open_handler([&](websocketpp::connection_hdl h) {
    hdl = h;
    opened.set_value(true);
  });
  client.set_fail_handler([&](websocketpp::connection_hdl) { opened.set_value(false); });
  websocketpp::lib::error_code ec;
  auto con = client.get_connection(
      "ws://127.0.0.1:" + std::to_string(server.Port()) + "/?login=api", ec);
  ASSERT_FALSE(ec) << ec.message();
  client.connect(con);
  std::thread network([&] { client.run(); });
  ASSERT_TRUE(opened.get_future().get());

  std::vector<std::string> sent;
  for (int i = 0; i < 8; i++) {
    std::string blob = Payload(i == 0 ? 0 : 1000u << i, i);
    std::string payload =
        testsupport::WireImage().Text("Func", "API").Buffer("Data", blob).Message();
    MessagePtr m = con->get_message(op::BINARY, payload.size());
    m->set_payload(payload);
    m->set_compressed(true);
    m->compressionThreads = i % 2 ? 1 : 1 + i;
    ASSERT_FALSE(con->send(m)) << i;
    sent.push_back(payload);
  }
  EXPECT_TRUE(server.WaitForMessages(sent.size(), std::chrono::seconds(20)));
  std::vector<standin::Received> got = server.Messages();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(got[i].compressed, !decline) << i;
    EXPECT_TRUE(got[i].decoded) << got[i].error;
    EXPECT_TRUE(got[i].payload == sent[i]) << i;
  }
  ASSERT_EQ(server.Handshakes().size(), 1u);
  EXPECT_EQ(server.Handshakes()[0].offeredExtensions,
            "permessage-deflate; client_no_context_takeover; client_max_window_bits");

  client.close(hdl, websocketpp::close::status::going_away, "", ec);
  network.join();
  server.Stop();
}

INSTANTIATE_TEST_SUITE_P(Compression, LinkTest, ::testing::Values(false, true));

}  // namespace
