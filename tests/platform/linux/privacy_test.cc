// What a whole dictation does to the system, traced with strace: recognition
// stays on the device, and nothing is kept once the run is over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "platform/linux/whisper/whisper_parts.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// The calls that reach the network or change the file system; README.md
// shows the same command.
constexpr const char* kTracedCalls =
    "trace=%network,open,openat,openat2,creat,truncate,rename,renameat,renameat2,unlink,unlinkat,"
    "mkdir,mkdirat,link,linkat,symlink,symlinkat";

constexpr const char* kStrace = "/usr/bin/strace";

// One traced call, put together when strace split it across lines.
struct Call {
  std::string name;
  std::string arguments;
  std::string result;

  bool succeeded() const { return !result.empty() && result[0] != '-' && result[0] != '?'; }

  // The first quoted argument: the path of a file call.
  std::string path() const {
    std::size_t open = arguments.find('"');
    if (open == std::string::npos) return "";
    std::size_t close = open + 1;
    while (close < arguments.size() && arguments[close] != '"')
      close += arguments[close] == '\\' ? 2 : 1;
    return arguments.substr(open + 1, close - open - 1);
  }
};

// Reads strace's output of `strace -f -o`: "PID name(arguments) = result",
// where a call another thread interrupted comes as "... <unfinished ...>"
// and, later, "PID <... name resumed>rest".
std::vector<Call> readTrace(const fs::path& file) {
  std::vector<Call> calls;
  std::map<std::string, std::string> unfinished;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    std::string pid = line.substr(0, space);
    std::string text = line.substr(line.find_first_not_of(' ', space));
    constexpr std::string_view kUnfinished = " <unfinished ...>";
    if (text.ends_with(kUnfinished)) {
      unfinished[pid] = text.substr(0, text.size() - kUnfinished.size());
      continue;
    }
    if (text.starts_with("<... ")) {
      std::size_t resumed = text.find(" resumed>");
      if (resumed == std::string::npos) continue;
      text = unfinished[pid] + text.substr(resumed + 9);
      unfinished.erase(pid);
    }
    std::size_t parenthesis = text.find('(');
    std::size_t equals = text.rfind(") = ");
    if (parenthesis == std::string::npos || equals == std::string::npos || equals < parenthesis) {
      continue;  // a signal, an exit
    }
    calls.push_back({text.substr(0, parenthesis),
                     text.substr(parenthesis + 1, equals - parenthesis - 1),
                     text.substr(equals + 4)});
  }
  return calls;
}

bool isOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* candidate : names) {
    if (name == candidate) return true;
  }
  return false;
}

// What in `calls` reaches beyond the audio server at `serverSocket`, or
// leaves something behind in the file system.
std::vector<std::string> violations(const std::vector<Call>& calls,
                                    const std::string& serverSocket) {
  std::vector<std::string> found;
  for (const Call& call : calls) {
    std::string text = call.name + "(" + call.arguments + ") = " + call.result;
    if (isOneOf(call.name, {"socket", "socketpair"})) {
      if (!call.arguments.starts_with("AF_UNIX") && !call.arguments.starts_with("AF_LOCAL")) {
        found.push_back("a socket that is not local: " + text);
      }
    } else if (call.arguments.find("sa_family=") != std::string::npos &&
               call.arguments.find("sa_family=AF_UNIX") == std::string::npos) {
      found.push_back("an address that is not local: " + text);
    } else if (call.name == "connect" && call.path() != serverSocket) {
      found.push_back("a connection to another local socket: " + text);
    } else if (call.name == "bind") {
      found.push_back("a socket of its own: " + text);
    } else if (isOneOf(call.name, {"open", "openat", "openat2", "creat"})) {
      bool writes = call.name == "creat";
      for (const char* flag : {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND"}) {
        writes = writes || call.arguments.find(flag) != std::string::npos;
      }
      // Both devices keep nothing that is written to them.
      bool keepsNothing = call.path() == "/dev/null" || call.path() == "/dev/zero";
      if (writes && call.succeeded() && !keepsNothing) {
        found.push_back("a file opened for writing: " + text);
      }
    } else if (isOneOf(call.name,
                       {"truncate", "rename", "renameat", "renameat2", "unlink", "unlinkat",
                        "mkdir", "mkdirat", "link", "linkat", "symlink", "symlinkat"}) &&
               call.succeeded()) {
      found.push_back("a change to the file system: " + text);
    }
  }
  return found;
}

// Each engine's session: the product as built (Vosk, and whisper.cpp's
// second pass, beside it), and a copy of it alone (PocketSphinx).
class PrivacyTest : public ::testing::TestWithParam<bool> {};

TEST_P(PrivacyTest, ADictationTalksOnlyToTheAudioServerAndLeavesNothingBehind) {
  const bool vosk = GetParam();
  if (kThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer's runtime makes files of its own";
  ASSERT_EQ(::access(kStrace, X_OK), 0) << kStrace << " is missing; scripts/setup installs it";
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  Environment environment = withLocale(server.clientEnvironment());
  const std::string serverSocket = environment["PULSE_SERVER"].substr(std::string("unix:").size());
  const fs::path home = environment["HOME"];
  TemporaryDirectory traceDirectory;
  const fs::path trace = traceDirectory.path() / "trace";
  SpeechSample speech = loadLibrivoxSample(kSentence);

  std::vector<std::string> listen =
      vosk ? listenCommand("en-US") : pocketSphinxListenCommand("en-US");
  std::vector<std::string> command = {kStrace, "-f",           "-qq", "--seccomp-bpf",
                                      "-o",    trace.string(), "-e",  kTracedCalls};
  command.insert(command.end(), listen.begin(), listen.end());
  ChildProcess product(command, environment);
  ASSERT_TRUE(becomesReady(product));
  server.play(speech.samples);
  server.playSilence(1.0);
  waitForRecognizerToCatchUp(product, speech.transcript);
  product.write("stop\n");
  expectRecognized(product.wait(kEndPatience), speech.transcript);

  std::vector<Call> calls = readTrace(trace);
  bool connected = false;
  for (const Call& call : calls) {
    connected = connected || (call.name == "connect" && call.succeeded());
  }
  ASSERT_TRUE(connected) << "the trace shows no connection to the audio server";
  // The engine's own files were read: the trace is of that engine's session,
  // and Vosk's of its second pass too where whisper.cpp is beside it.
  std::vector<std::string> engineFiles = {vosk ? "libvosk.so" : "libpocketsphinx.so",
                                          vosk ? "/am/final.mdl" : "/mdef"};
  if (vosk && !platform::linux_backend::whisperPartsAreMissing()) {
    engineFiles.insert(engineFiles.end(), {"libwhisper", "libggml-cpu", "/ggml-base.bin"});
  }
  for (const std::string& file : engineFiles) {
    bool read = false;
    for (const Call& call : calls) {
      read = read || (call.name.starts_with("open") && call.succeeded() &&
                      call.path().find(file) != std::string::npos);
    }
    EXPECT_TRUE(read) << "the trace shows no " << file;
  }
  for (const std::string& violation : violations(calls, serverSocket)) ADD_FAILURE() << violation;
  EXPECT_TRUE(fs::is_empty(home)) << "the run left files in its home directory";
}

INSTANTIATE_TEST_SUITE_P(Engines, PrivacyTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Vosk" : "PocketSphinx"; });

}  // namespace
}  // namespace quorvane::testing
