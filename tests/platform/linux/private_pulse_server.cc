#include "platform/linux/private_pulse_server.h"

#include "support/child_process.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

// The daemon may take a while on a loaded machine; this only bounds a
// broken start (the server gives up after 15 s itself).
constexpr auto kStartLimit = 30s;

// Beyond the samples' own duration: what a loaded machine may add.
constexpr auto kPlayMargin = 30s;

std::string quoted(const std::filesystem::path& path) {
  std::string text = "'";
  text += path.string();
  return text += "'";
}

}  // namespace

PrivatePulseServer::PrivatePulseServer(int sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {
  ::signal(SIGPIPE, SIG_IGN);  // A server that dies must not take the test with it.
  // Isolated and without site packages, which it does not need: it starts
  // sooner. With audio in shared memory, as a desktop's server gives it.
  server_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      QUORVANE_PYTHON, "-I", "-S", QUORVANE_AUDIO_SERVER, "serve", "--rate",
      std::to_string(sampleRate), "--channels", std::to_string(channels), "--shared-memory"});
  std::optional<std::string> line = server_->readLine(kStartLimit);
  nlohmann::json info = nlohmann::json::parse(line.value_or(""), nullptr, false);
  if (!info.is_object() || !info.contains("env")) {
    startError_ = "the audio server did not start: " +
                  (info.is_object() ? info.value("error", *line) : line.value_or("no answer"));
    return;
  }
  directory_ = info["dir"].get<std::string>();
  clientEnvironment_ = info["env"].get<std::map<std::string, std::string>>();
}

PrivatePulseServer::~PrivatePulseServer() {
  server_->closeInput();  // It then stops the daemon and removes its directory.
  server_->wait(10s);
}

pid_t PrivatePulseServer::processId() const { return server_->pid(); }

std::optional<std::string> PrivatePulseServer::ask(const std::string& command,
                                                   std::chrono::duration<double> patience) {
  if (!startError_.empty()) return std::nullopt;
  server_->write(command + "\n");
  return server_->readLine(std::chrono::duration_cast<std::chrono::milliseconds>(patience));
}

std::filesystem::path PrivatePulseServer::writeSamples(
    const std::string& name, const std::vector<std::int16_t>& samples) const {
  std::filesystem::path file = directory_ / name;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof samples[0]));
  return file;
}

void PrivatePulseServer::play(const std::vector<std::int16_t>& samples) {
  std::chrono::duration<double> duration(static_cast<double>(samples.size()) /
                                         (sampleRate_ * channels_));
  ask("feed-raw " + writeSamples("microphone.raw", samples).string(), duration + kPlayMargin);
}

void PrivatePulseServer::playSilence(double seconds) {
  play(std::vector<std::int16_t>(static_cast<std::size_t>(seconds * sampleRate_) * channels_, 0));
}

void PrivatePulseServer::stopDaemon() { ask("stop-daemon", kPlayMargin); }

std::optional<std::string> PrivatePulseServer::runClient(const std::string& program,
                                                         const std::string& arguments) const {
  // With the server's own home, so that the client leaves nothing in the
  // product's.
  std::string command = "env HOME=" + quoted(directory_ / "home") +
                        " XDG_RUNTIME_DIR=" + quoted(directory_ / "runtime") + " " + program +
                        " -s " + clientEnvironment_.at("PULSE_SERVER") + " " + arguments +
                        " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[4096];
  while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
    output.append(buffer, count);
  int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

bool PrivatePulseServer::playThroughSpeakers(const std::vector<std::int16_t>& samples) {
  std::filesystem::path file = writeSamples("speakers.raw", samples);
  return runClient("pacat",
                   "--playback --raw --format=s16le --rate=" + std::to_string(sampleRate_) +
                       " --channels=" + std::to_string(channels_) + " --device=speakers " +
                       quoted(file))
      .has_value();
}

bool PrivatePulseServer::unplugMicrophone() {
  return control("unload-module module-pipe-source").has_value();
}

int PrivatePulseServer::countListed(const std::string& kind) const {
  std::optional<std::string> listing = control("list short " + kind);
  if (!listing) return -1;
  return static_cast<int>(std::count(listing->begin(), listing->end(), '\n'));
}

int PrivatePulseServer::clientCount() const { return countListed("clients"); }

int PrivatePulseServer::recordingStreamCount() const { return countListed("source-outputs"); }

void PrivatePulseServer::admitOtherUsers() const {
  std::filesystem::permissions(
      directory_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                      std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                      std::filesystem::perms::others_exec);
}

}  // namespace quorvane::testing
