#include "foundation/LogManager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

// A line split into its parts: "(thread)" when shown, the time stamp or the continuation
// indent, and the text. False when the line has neither a stamp nor an indent.
struct Line {
  std::string thread;
  bool stamped = false;
  std::string body;
};

bool IsStamp(const std::string& s) {
  const std::string pattern = "[9999-99-99 99:99:99] ";
  if (s.size() != pattern.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool digit = s[i] >= '0' && s[i] <= '9';
    if (pattern[i] == '9' ? !digit : s[i] != pattern[i]) return false;
  }
  return true;
}

bool ParseLine(std::string line, Line* out) {
  if (!line.empty() && line[0] == '(') {
    size_t close = line.find(')');
    if (close == std::string::npos || close == 1) return false;
    out->thread = line.substr(1, close - 1);
    if (out->thread.find_first_not_of("0123456789") != std::string::npos) return false;
    line.erase(0, close + 1);
  }
  std::string head = line.substr(0, 22);
  if (head != std::string(22, ' ') && !IsStamp(head)) return false;
  out->stamped = head[0] == '[';
  out->body = line.substr(22);
  return true;
}

// The body of a time-stamped line without a thread number, or "<bad line>".
std::string StampedBody(const std::string& line) {
  Line parsed;
  bool ok = ParseLine(line, &parsed) && parsed.stamped && parsed.thread.empty();
  return ok ? parsed.body : "<bad line>";
}

uint64_t DiskSize(const std::string& path) { return std::filesystem::file_size(path); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Thread numbers are process-wide; each test leaves them switched off.
class LogManagerTest : public testing::Test {
 protected:
  void TearDown() override { LogManager::TShowThread = false; }

  // Init with its standard-output report captured and returned.
  std::string Init(LogManager& log, const std::string& dir, const std::string& file, char mode,
                   bool expect = true) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(log.Init(dir, file, mode), expect);
    return testing::internal::GetCapturedStdout();
  }

  TempDir dir;
};

TEST_F(LogManagerTest, LineFormats) {
  LogManager log;
  EXPECT_EQ(Init(log, dir.Path(), "a.log", 'w'),
            "Initialized Log File: " + dir.File("a.log") + "\n");
  log << "first";
  log <<= "continued";
  log += "raw";
  log += "\n";
  log.textStream << "streamed " << 42 << ' ';
  log << "after stream";
  LogManager::TShowThread = true;
  std::string me = LogManager::ThreadStamp();
  log << "numbered";
  log <<= "numbered continuation";
  log += "raw again\n";
  std::vector<std::string> lines = Lines(log.GetLogString());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(StampedBody(lines[0]), "first");
  EXPECT_EQ(lines[1], std::string(22, ' ') + "continued");
  EXPECT_EQ(lines[2], "raw");
  ASSERT_EQ(lines[3].rfind("streamed 42 ", 0), 0u);
  EXPECT_EQ(StampedBody(lines[3].substr(12)), "after stream");
  Line numbered;
  ASSERT_TRUE(ParseLine(lines[4], &numbered));
  EXPECT_EQ(numbered.thread, me);
  EXPECT_TRUE(numbered.stamped);
  EXPECT_EQ(numbered.body, "numbered");
  EXPECT_EQ(lines[5], "(" + me + ")" + std::string(22, ' ') + "numbered continuation");
  EXPECT_EQ(lines[6], "raw again");
  // The continuation indent is exactly the width of a time stamp.
  EXPECT_EQ(("[" + LogManager::TimeStamp() + "] ").size(), LogManager::TIndentSize);
}

TEST_F(LogManagerTest, TextBeforeInitIsHeldAndWrittenWithTheNextLine) {
  LogManager log;
  EXPECT_EQ(Init(log, "", "x.log", 'w'), "");
  EXPECT_EQ(Init(log, dir.Path(), "", 'w'), "");
  EXPECT_TRUE(log.path.empty());
  log += "held 1\n";
  log <<= "held 2";
  EXPECT_EQ(log.GetLogString(), "");
  Init(log, dir.Path(), "late.log", 'w');
  EXPECT_EQ(log.GetLogString(), "");  // nothing written until the next line
  log += "now\n";
  EXPECT_EQ(log.GetLogString(), "held 1\n" + std::string(22, ' ') + "held 2\nnow\n");
}

TEST_F(LogManagerTest, InitFailures) {
  LogManager log;
  EXPECT_EQ(Init(log, dir.Path(), "x.log", 'x', false),
            "Failed to initialize Log File. Invalid mode: x\n");
  std::string missing = dir.File("no/such");
  EXPECT_EQ(Init(log, missing, "x.log", 'w', false),
            "Failed to initialize Log File: " + missing + "/x.log\n");
  EXPECT_TRUE(log.path.empty());
  log += "kept\n";
  Init(log, dir.Path(), "ok.log", 'w');
  log += "more\n";
  EXPECT_EQ(log.GetLogString(), "kept\nmore\n");
}

TEST_F(LogManagerTest, GrowthArithmetic) {
  LogManager log;
  Init(log, dir.Path(), "g.log", 'w');
  std::string path = dir.File("g.log");
  log += std::string(100, 'a');
  EXPECT_EQ(DiskSize(path), 1024u);
  log += std::string(3000, 'b');  // 100 + 3000 > 1024: grows by the line itself
  EXPECT_EQ(DiskSize(path), 3100u);

  LogManager second;
  Init(second, dir.Path(), "h.log", 'w');
  second += std::string(1020, 'c');
  EXPECT_EQ(DiskSize(dir.File("h.log")), 1024u);
  second += std::string(10, 'd');  // 1020 + 10 > 1024: grows by the step
  EXPECT_EQ(DiskSize(dir.File("h.log")), 2044u);
  EXPECT_EQ(second.writeOffset, 1030u);
  // Bytes past the text are zeros until the file is cut.
  std::string disk = ReadFileBytes(dir.File("h.log"));
  EXPECT_EQ(disk, std::string(1020, 'c') + std::string(10, 'd') + std::string(1014, '\0'));
}

TEST_F(LogManagerTest, CloseCutsTheFileToItsText) {
  std::string written;
  {
    LogManager log;
    Init(log, dir.Path(), "c.log", 'w');
    for (int i = 0; i < 100; ++i) log << "line " + std::to_string(i);
    written = log.GetLogString();
  }  // the destructor closes
  EXPECT_EQ(ReadFileBytes(dir.File("c.log")), written);
  EXPECT_EQ(Lines(written).size(), 100u);

  LogManager empty;
  Init(empty, dir.Path(), "e.log", 'w');
  empty.Close();
  EXPECT_EQ(DiskSize(dir.File("e.log")), 0u);
}

// What each mode makes of the file it finds: 'w' starts anew; 'a' continues right after
// the text (a log not cut at exit ends in zeros) and creates a missing or empty file.
TEST_F(LogManagerTest, ModesOnTheFileTheyFind) {
  const std::string kMissing = "<missing>";
  struct Case {
    std::string before;
    char mode;
    std::string after;
  } cases[] = {
      {"old text\n", 'w', "new\n"},
      {"earlier text\n" + std::string(5000, '\0'), 'a', "earlier text\nnew\n"},
      {kMissing, 'a', "new\n"},
      {"", 'a', "new\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = std::to_string(n++) + ".log";
    if (c.before != kMissing) WriteFileBytes(dir.File(name), c.before);
    LogManager log;
    Init(log, dir.Path(), name, c.mode);
    log += "new\n";
    log.Close();
    EXPECT_EQ(ReadFileBytes(dir.File(name)), c.after) << name;
  }
}

// A log left with its zero tail (the process ended without exit handlers) is recovered by
// mode 'a': the copy taken while the writer is alive is exactly what such a crash leaves.
TEST_F(LogManagerTest, UncutLogIsRecoveredByModeA) {
  LogManager writer;
  Init(writer, dir.Path(), "live.log", 'w');
  for (int i = 0; i < 50; ++i) writer << "before crash " + std::to_string(i);
  std::string text = writer.GetLogString();
  std::string disk = ReadFileBytes(dir.File("live.log"));
  ASSERT_GT(disk.size(), text.size());
  WriteFileBytes(dir.File("copy.log"), disk);

  LogManager reader;
  Init(reader, dir.Path(), "copy.log", 'a');
  reader += "after\n";
  reader.Close();
  EXPECT_EQ(ReadFileBytes(dir.File("copy.log")), text + "after\n");
}

// A second Init moves to a new file; the first one is left cut to its text.
TEST_F(LogManagerTest, ReinitCutsThePreviousFile) {
  LogManager log;
  Init(log, dir.Path(), "1.log", 'w');
  log += "first file\n";
  Init(log, dir.Path(), "2.log", 'w');
  log += "second file\n";
  EXPECT_EQ(ReadFileBytes(dir.File("1.log")), "first file\n");
  EXPECT_EQ(log.GetLogString(), "second file\n");
}

TEST_F(LogManagerTest, HeaderDividerWidths) {
  std::string title = "Global Config";
  EXPECT_EQ(LogManager::HeaderDivider(title, 40, '-'),
            std::string(12, '-') + " Global Config " + std::string(13, '-'));
  EXPECT_EQ(LogManager::HeaderDivider(title, 17, '-'), "- Global Config -");
  EXPECT_EQ(LogManager::HeaderDivider(title, 10, '-'), "- Global Config -");
  // Any width and title: the title centred, the odd fill character on the right.
  for (uint64_t width = 0; width < 60; ++width) {
    for (size_t len = 0; len < 30; ++len) {
      std::string t(len, 'T');
      std::string line = LogManager::HeaderDivider(t, width, '-');
      ASSERT_EQ(line.size(), std::max<uint64_t>(width, len + 4)) << width << " " << len;
      size_t left = line.find(' ');
      size_t right = line.size() - left - len - 2;
      ASSERT_EQ(line.substr(left, len + 2), " " + t + " ");
      ASSERT_TRUE(right == left || right == left + 1);
      ASSERT_GE(left, 1u);
    }
  }
}

// Texts from peers: nothing that could break a line or steer a terminal gets through, and
// every other character stays readable.
TEST_F(LogManagerTest, PeerTextsAreEscaped) {
  struct Case {
    std::string peer, logged;
  } cases[] = {
      {"bye", "bye"},
      {"a\rb\nc\td", "a\\x0Db\\x0Ac\\x09d"},
      {"\x1b[2J\x7f", "\\x1B[2J\\x7F"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"back\\slash", "back\\x5Cslash"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xC2\x9B" "1m", "\\xC2\\x9B" "1m"},           // C1 control (CSI)
      {"\xFF\xC3", "\\xFF\\xC3"},                     // not UTF-8, cut sequence
      {"\xE0\x80\xAF \xED\xA0\x80", "\\xE0\\x80\\xAF \\xED\\xA0\\x80"},  // overlong, surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(LogManager::Escaped(c.peer), c.logged) << c.logged;
}

// Many threads at once: every line whole, each thread one number, numbers distinct, each
// thread's lines in its own order.
TEST_F(LogManagerTest, ConcurrentLinesNeverInterleave) {
  LogManager log;
  Init(log, dir.Path(), "mt.log", 'w');
  LogManager::TShowThread = true;
  const int kThreads = 8, kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) {
        std::string body = "t" + std::to_string(t) + " n" + std::to_string(i) + " " +
                           std::string(static_cast<size_t>(i % 97), static_cast<char>('a' + t));
        if (i % 3 == 2) {
          log <<= body;
        } else {
          log << body;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  log.Close();

  std::map<int, std::string> numberOf;
  std::map<int, int> nextLine;
  std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("mt.log")));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& l : lines) {
    Line parsed;
    ASSERT_TRUE(ParseLine(l, &parsed)) << l;
    ASSERT_FALSE(parsed.thread.empty()) << l;
    int t = -1, i = -1;
    char pad[128] = "";
    ASSERT_GE(std::sscanf(parsed.body.c_str(), "t%d n%d %127s", &t, &i, pad), 2) << l;
    ASSERT_TRUE(t >= 0 && t < kThreads) << l;
    EXPECT_EQ(parsed.stamped, i % 3 != 2) << l;
    std::string fill(static_cast<size_t>(i % 97), static_cast<char>('a' + t));
    EXPECT_EQ(std::string(pad), fill);
    EXPECT_EQ(i, nextLine[t]++);
    auto known = numberOf.emplace(t, parsed.thread);
    EXPECT_EQ(known.first->second, parsed.thread);
  }
  std::set<std::string> distinct;
  for (const auto& entry : numberOf) distinct.insert(entry.second);
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
}

// Re-opening the log while other threads write without pause: every re-open gets in (a
// sync held across lines must not hold it off), and no line is lost or duplicated: every
// line lands, whole and in its thread's order, in exactly one of the files.
TEST_F(LogManagerTest, ReinitWhileThreadsLogKeepsEveryLine) {
  LogManager log;
  Init(log, dir.Path(), "r0.log", 'w');
  const int kThreads = 8, kFiles = 20;
  std::atomic<bool> done{false};
  std::vector<int> written(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, &done, &written, t] {
      for (int i = 0; !done; ++i, ++written[t]) {
        log += "t" + std::to_string(t) + " " + std::to_string(i) + "\n";
      }
    });
  }
  auto reopen = std::async(std::launch::async, [&] {
    for (int f = 1; f < kFiles; ++f) {
      Init(log, dir.Path(), "r" + std::to_string(f) + ".log", 'w');
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  // Starved, the re-opens would never finish while the threads log; a generous bound
  // turns that into a failure instead of a hung test.
  bool finished = reopen.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  done = true;
  reopen.wait();
  for (std::thread& th : threads) th.join();
  ASSERT_TRUE(finished) << "re-opening the log starved while threads logged";
  log.Close();
  std::string all;
  for (int f = 0; f < kFiles; ++f) {
    all += ReadFileBytes(dir.File("r" + std::to_string(f) + ".log"));
  }
  std::map<int, int> next;
  for (const std::string& l : Lines(all)) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(l.c_str(), "t%d %d", &t, &i), 2) << l;
    EXPECT_EQ(i, next[t]++) << l;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], written[t]) << t;
}

// A thread keeps its number across re-opened logs and other log objects.
TEST_F(LogManagerTest, ThreadNumbersAreStable) {
  std::string me = LogManager::ThreadStamp();
  std::string other;
  std::thread([&other] { other = LogManager::ThreadStamp(); }).join();
  EXPECT_NE(me, other);
  LogManager log;
  Init(log, dir.Path(), "s1.log", 'w');
  LogManager::TShowThread = true;
  log << "a";
  Init(log, dir.Path(), "s2.log", 'w');
  log << "b";
  EXPECT_EQ(log.GetLogString().rfind("(" + me + ")[", 0), 0u);
  EXPECT_EQ(LogManager::ThreadStamp(), me);
}

// When the file cannot grow, what fits is written and the rest stays pending (nothing is
// written past the space the file has); standard error hears of it once. Room for less than
// all of it takes what fits. Past the pending limit the oldest whole lines go, down to three
// quarters of the limit, and once the file takes text again one line says how many went
// before the lines that follow them. A file cut by another program is continued at its new end.
TEST_F(LogManagerTest, LinesStayPendingWhileTheFileCannotGrow) {
  auto line = [](int i) {  // 100 bytes
    std::string head = "line " + std::to_string(100 + i) + " ";
    return head + std::string(99 - head.size(), '.') + "\n";
  };
  auto lines = [&](int from, int to) {
    std::string all;
    for (int i = from; i < to; ++i) all += line(i);
    return all;
  };
  LogManager log;
  log.pendingLimit = 1000;
  Init(log, dir.Path(), "full.log", 'w');
  log += std::string(1000, 'a');  // the file holds 1024 bytes
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto limitFileSize = [&old](rlim_t bytes) {
    rlimit limited = old;
    limited.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limited) == 0;
  };
  ASSERT_TRUE(limitFileSize(1024));
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) log += line(i);
  const std::string written = std::string(1000, 'a') + lines(0, 3);
  EXPECT_EQ(log.GetLogString(), written.substr(0, 1024));
  EXPECT_EQ(log.text, lines(0, 5).substr(24));
  ASSERT_TRUE(limitFileSize(1300));  // room for 276 of the 476 pending bytes
  log += line(5);
  EXPECT_EQ(log.GetLogString(), written);
  EXPECT_EQ(log.text, lines(3, 6));
  for (int i = 6; i < 14; ++i) log += line(i);  // 1100 bytes pending: lines 3 to 6 go
  EXPECT_EQ(log.text, lines(7, 14));
  EXPECT_EQ(log.droppedLines, 4u);
  ASSERT_TRUE(limitFileSize(old.rlim_cur));
  std::string errors = testing::internal::GetCapturedStderr();
  const std::string failing = "Log file " + dir.File("full.log") + " cannot be written";
  EXPECT_EQ(errors.find(failing), 0u) << errors;
  EXPECT_EQ(errors.find(failing, 1), std::string::npos) << errors;
  log += line(14);
  std::string text = log.GetLogString();
  ASSERT_EQ(text.substr(0, written.size()), written);
  text.erase(0, written.size());
  size_t end = text.find('\n');
  EXPECT_EQ(StampedBody(text.substr(0, end)),
            "4 log lines were dropped while the log file could not be written");
  EXPECT_EQ(text.substr(end + 1), lines(7, 15));
  EXPECT_EQ(log.text, "");

  ASSERT_EQ(truncate(dir.File("full.log").c_str(), 0), 0);
  log += "after the cut";
  log.Close();
  EXPECT_EQ(ReadFileBytes(dir.File("full.log")), "after the cut");
}

// The process-wide log writes its pending text and cuts its file when the process exits.
TEST_F(LogManagerTest, GlobalLogIsCutAtExit) {
  std::string path = dir.File("global.log");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!LogManager::Global.Init(dir.Path(), "global.log", 'w')) _exit(2);
    LogManager::Global << "from the child";
    LogManager::Global.textStream << "tail without a line";
    std::exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string disk = ReadFileBytes(path);
  std::vector<std::string> lines = Lines(disk);
  ASSERT_EQ(lines.size(), 2u) << disk;
  EXPECT_EQ(StampedBody(lines[0]), "from the child");
  EXPECT_EQ(lines[1], "tail without a line");
  EXPECT_EQ(disk.back(), 'e');
}

}  // namespace
