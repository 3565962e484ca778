#include "support/Namespace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tools/standin/StandInRecord.h"

namespace testsupport {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char kScript[] = TVX_SOURCE_DIR "/tools/e2e/run-in-namespace.sh";
const char kStandIn[] = TVX_BUILD_DIR "/tools/standin/tvx_standin";
const char kKafkaMock[] = TVX_BUILD_DIR "/tools/kafkamock/tvx_kafkamock";

// The complete lines of a file another process may be appending to (a last line without
// its newline is left for the next read).
std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

// Writes one line into a FIFO whose reader is inside the run; false when nobody reads it.
bool WriteFifo(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, 0);  // blocking from here on: the line must go in whole
  std::string data = line + "\n";
  bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  close(fd);
  return ok;
}

std::string Join(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

// Sets up one empty run, so that a machine that allows namespaces but not the mounts of
// the run (overlay, tmpfs) is found here rather than by failing tests.
std::string Probe() {
  if (geteuid() != 0) return "not root";
  if (std::system("command -v unshare setpriv ip mount >/dev/null 2>&1") != 0) return "unshare, setpriv, ip or mount missing";
  for (const char* tool : {kStandIn, kKafkaMock})
    if (access(tool, X_OK) != 0) return std::string(tool) + " not built";
  TempDir stage;
  std::string probe = std::string(kScript) + " " + stage.Path() + " -- true >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0) return "a run cannot be set up here (" + probe + ")";
  return "";
}

}  // namespace

std::string NamespaceUnavailable() {
  static const std::string kWhyNot = Probe();
  return kWhyNot;
}

NamespaceRun::NamespaceRun() {
  for (const char* dir : {"/opt/tolvexserver/conf", "/opt/tolvexserver/data", "/var/log/tolvexserver", "/var/www/ostrel"})
    fs::create_directories(HostPath(dir));
}

NamespaceRun::~NamespaceRun() = default;

std::string NamespaceRun::HostPath(const std::string& fixedPath) const { return stage_.Path() + "/root" + fixedPath; }

bool NamespaceRun::WriteFile(const std::string& fixedPath, const std::string& contents) {
  std::error_code ec;
  fs::create_directories(fs::path(HostPath(fixedPath)).parent_path(), ec);
  std::ofstream out(HostPath(fixedPath), std::ios::binary | std::ios::trunc);
  out << contents;
  return static_cast<bool>(out.flush());
}

std::string NamespaceRun::ReadFile(const std::string& fixedPath) const {
  std::ifstream in(HostPath(fixedPath), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> NamespaceRun::ListDir(const std::string& fixedPath) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(HostPath(fixedPath), ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool NamespaceRun::Start(const std::vector<std::string>& command, const Options& options, std::string* error) {
  std::vector<std::string> argv = {"env"};
  if (options.standin) {
    argv.push_back(std::string("TVX_STANDIN=") + kStandIn);
    argv.push_back("TVX_STANDIN_ARGS=" + Join(options.standinArgs));
  }
  if (options.kafka) {
    argv.push_back(std::string("TVX_KAFKAMOCK=") + kKafkaMock);
    argv.push_back("TVX_KAFKAMOCK_ARGS=" + Join(options.kafkaArgs));
  }
  if (!options.setup.empty()) argv.push_back("TVX_SETUP=" + options.setup);
  argv.insert(argv.end(), {kScript, stage_.Path(), "--"});
  argv.insert(argv.end(), command.begin(), command.end());
  if (!process_.Start(argv, error)) return false;

  auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!fs::exists(stage_.File("ready"))) {
    int code = process_.Wait(0ms);
    if (code >= 0 || std::chrono::steady_clock::now() > deadline) {
      if (error) *error = code >= 0 ? "the run ended while setting up, exit code " + std::to_string(code)
                                    : "the run did not get ready";
      return false;
    }
    std::this_thread::sleep_for(10ms);
  }
  kafkaAnswers_ = FileLines(stage_.File("kafka.out")).size();
  return true;
}

int NamespaceRun::Wait(std::chrono::milliseconds timeout) { return process_.Wait(timeout); }

bool NamespaceRun::StandIn(const std::string& command) { return WriteFifo(stage_.File("standin.cmd"), command); }

std::vector<std::string> NamespaceRun::StandInReport() const { return FileLines(stage_.File("standin.jsonl")); }

bool NamespaceRun::WaitForStandIn(const std::string& needle, std::chrono::milliseconds timeout,
                                  std::string* line) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (const auto& l : StandInReport()) {
      if (l.find(needle) == std::string::npos) continue;
      if (line) *line = l;
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

std::vector<standin::Received> NamespaceRun::StandInMessages() const {
  return standin::ReadRecordFile(stage_.File("standin.frames"));
}

std::string NamespaceRun::KafkaBootstrap() const {
  for (const auto& l : FileLines(stage_.File("kafka.out")))
    if (l.rfind("bootstrap ", 0) == 0) return l.substr(10);
  return "";
}

bool NamespaceRun::Kafka(const std::string& command, std::chrono::milliseconds timeout, std::string* answer) {
  if (!WriteFifo(stage_.File("kafka.cmd"), command)) return false;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto lines = FileLines(stage_.File("kafka.out"));
    if (lines.size() > kafkaAnswers_) {
      std::string got = lines[kafkaAnswers_];
      kafkaAnswers_ = kafkaAnswers_ + 1;
      if (answer) *answer = got;
      return got.rfind("ok", 0) == 0;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

}  // namespace testsupport
