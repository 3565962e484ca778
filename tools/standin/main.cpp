// tvx_standin: the stand-in data server as a program, for the end-to-end harness and the
// demo. Prints one JSON line per event on standard output (see StandInReport.h) and takes
// commands, one per line, on standard input:
//   decline on|off          decline permessage-deflate in later handshakes
//   admit accept|refuse|stall|reject
//   close CODE [REASON]     close every open connection
//   drop                    reset every open connection's TCP link
//   reply FUNC MSID         send a reply
//   fail MSID [DETAIL]      send a failure reply ("Func" = "ERR")
//   malformed KIND          send a broken frame: two-bytes, bad-prefix, prefix-only,
//                           truncated, directory-past-end, huge-count, bad-type,
//                           key-past-record, no-func, no-msid
//   read pause|resume       stop or restart reading on every open connection
//   heartbeat MS [FIRST]    every MS milliseconds, an unsolicited pong to every open
//                           connection, numbered FIRST (1 by default), FIRST + 1, ... on
//                           each; 0 stops them
//   pongs echo              answer pings with their own payload (the default)
//   pongs fixed PAYLOAD     answer pings with PAYLOAD (the rest of the line, 1 to 125 bytes)
//   quit
// The end of standard input ends the commands, not the server: it runs until "quit",
// SIGINT or SIGTERM.
//
// Usage: tvx_standin [--port N] [--decline] [--admit MODE] [--record FILE] [--die-with-parent]
//   --port N            listen on 127.0.0.1:N (9002 by default, 0 picks a free port)
//   --record FILE       also append every received frame to FILE (see StandInRecord.h)
//   --die-with-parent   end when the parent process ends (for harness scripts)

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "support/WireEncoder.h"
#include "tools/standin/StandInReport.h"
#include "tools/standin/StandInServer.h"

namespace {

using standin::Admission;
using testsupport::Malformed;

std::mutex gOutMutex;

void Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(gOutMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool ParseAdmission(const std::string& word, Admission* out) {
  static const std::map<std::string, Admission> kModes = {
      {"accept", Admission::kAccept}, {"refuse", Admission::kRefuse},
      {"stall", Admission::kStall}, {"reject", Admission::kReject}};
  auto it = kModes.find(word);
  if (it == kModes.end()) return false;
  *out = it->second;
  return true;
}

bool ParseMalformed(const std::string& word, Malformed* out) {
  static const std::map<std::string, Malformed> kKinds = {
      {"two-bytes", Malformed::kTwoBytes}, {"bad-prefix", Malformed::kBadPrefix},
      {"prefix-only", Malformed::kPrefixOnly}, {"truncated", Malformed::kTruncatedImage},
      {"directory-past-end", Malformed::kDirectoryPastEnd}, {"huge-count", Malformed::kHugeCount},
      {"bad-type", Malformed::kBadTypeCode}, {"key-past-record", Malformed::kKeyPastRecord},
      {"no-func", Malformed::kNoFunc}, {"no-msid", Malformed::kNoMsid}};
  auto it = kKinds.find(word);
  if (it == kKinds.end()) return false;
  *out = it->second;
  return true;
}

std::string RestOf(std::istringstream& in) {
  std::string rest;
  std::getline(in >> std::ws, rest);
  return rest;
}

// A decimal number of at most `maxDigits` (at most 18, so that it fits any 64-bit type).
bool ParseNumber(const std::string& word, size_t maxDigits, uint64_t* out) {
  if (word.empty() || word.size() > maxDigits || word.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *out = std::stoull(word);
  return true;
}

// "heartbeat MS [FIRST]"
bool SetHeartbeat(standin::StandInServer& server, std::istringstream& in) {
  std::string ms, first;
  uint64_t period = 0, from = 1;
  if (!(in >> ms) || !ParseNumber(ms, 18, &period)) return false;
  if (in >> first && !ParseNumber(first, 18, &from)) return false;
  server.SetHeartbeat(std::chrono::milliseconds(period), from);
  return true;
}

// "pongs echo" or "pongs fixed PAYLOAD"
bool SetPongs(standin::StandInServer& server, std::istringstream& in) {
  const size_t kMaxControlPayload = 125;
  std::string mode;
  in >> mode;
  if (mode == "echo") {
    server.SetPongPayload(std::nullopt);
    return true;
  }
  std::string payload = RestOf(in);
  if (mode != "fixed" || payload.empty() || payload.size() > kMaxControlPayload) return false;
  server.SetPongPayload(payload);
  return true;
}

// Runs one command line; false for a line it does not understand.
bool Execute(standin::StandInServer& server, const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a;
  in >> cmd;
  Admission admission;
  Malformed kind;
  uint64_t code;
  if (cmd.empty()) return true;
  if (cmd == "quit") {
    kill(getpid(), SIGTERM);
  } else if (cmd == "decline" && in >> a && (a == "on" || a == "off")) {
    server.SetDeclineCompression(a == "on");
  } else if (cmd == "admit" && in >> a && ParseAdmission(a, &admission)) {
    server.SetAdmission(admission);
  } else if (cmd == "close" && in >> a && ParseNumber(a, 4, &code)) {
    server.CloseAll(static_cast<uint16_t>(code), RestOf(in));
  } else if (cmd == "drop") {
    server.DropAll();
  } else if (cmd == "reply" && in >> a) {
    std::string msid;
    if (!(in >> msid)) return false;
    server.SendReply(a, msid);
  } else if (cmd == "fail" && in >> a) {
    server.SendFailure(a, RestOf(in));
  } else if (cmd == "malformed" && in >> a && ParseMalformed(a, &kind)) {
    server.SendToAll(testsupport::MalformedFrame(kind));
  } else if (cmd == "read" && in >> a && (a == "pause" || a == "resume")) {
    server.PauseReading(a == "pause");
  } else if (cmd == "heartbeat") {
    return SetHeartbeat(server, in);
  } else if (cmd == "pongs") {
    return SetPongs(server, in);
  } else {
    return false;
  }
  return true;
}

int Usage() {
  std::cerr << "usage: tvx_standin [--port N] [--decline] [--admit accept|refuse|stall|reject] [--record FILE]"
               " [--die-with-parent]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 9002;
  bool decline = false;
  Admission admission = Admission::kAccept;
  std::string record;
  bool dieWithParent = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      port = static_cast<uint16_t>(std::atoi(argv[++i]));
    } else if (arg == "--record" && i + 1 < argc) {
      record = argv[++i];
    } else if (arg == "--die-with-parent") {
      dieWithParent = true;
    } else if (arg == "--decline") {
      decline = true;
    } else if (arg == "--admit" && i + 1 < argc && ParseAdmission(argv[i + 1], &admission)) {
      ++i;
    } else {
      return Usage();
    }
  }

  // Signals are taken by sigwait below, never by a handler on some other thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (dieWithParent) prctl(PR_SET_PDEATHSIG, SIGTERM);

  standin::StandInServer server;
  server.SetReportSink(Print);
  server.SetDeclineCompression(decline);
  if (!record.empty() && !server.SetRecordFile(record)) {
    std::cerr << "tvx_standin: cannot create " << record << "\n";
    return 1;
  }
  std::string error;
  if (!server.Start(port, &error)) {
    std::cerr << "tvx_standin: " << error << "\n";
    return 1;
  }
  if (admission != Admission::kAccept) server.SetAdmission(admission);

  std::thread commands([&server] {
    std::string line;
    while (std::getline(std::cin, line))
      if (!Execute(server, line)) Print(standin::EventLine("unknown-command", ",\"line\":" + standin::JsonString(line)));
  });
  commands.detach();  // may sit in a read of standard input until the process ends

  int sig = 0;
  sigwait(&stopSignals, &sig);
  server.Stop();
  Print(standin::EventLine("stopped"));
  return 0;
}
