#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::testing {

class ChildProcess;

// A PulseAudio daemon of the test's own whose default source is a virtual
// microphone fed at real-time pace, silence whenever no speech is being
// played, as from a real microphone in a quiet room. The server is
// tests/support/private_audio_server.py, run as a command in a child
// process: the one audio server of the tests, the benchmark and the demo.
// Only the daemon started there is ever stopped.
class PrivatePulseServer {
 public:
  // A server without any source at all.
  static constexpr int kNoMicrophone = 0;

  // The microphone's format: 16-bit samples at `sampleRate`, `channels`
  // interleaved.
  explicit PrivatePulseServer(int sampleRate = 16000, int channels = 1);
  ~PrivatePulseServer();
  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  // Empty once the daemon runs; else what went wrong, with its log.
  const std::string& startError() const { return startError_; }

  // What the product's environment needs to use this server and nothing
  // of the user's: the server address, and an empty home of its own.
  const std::map<std::string, std::string>& clientEnvironment() const { return clientEnvironment_; }

  // Plays interleaved samples in the microphone's format; returns once
  // they have been written at real-time pace.
  void play(const std::vector<std::int16_t>& samples);
  void playSilence(double seconds);

  // Plays samples in the microphone's format on the server's one sink, the
  // speakers, whose monitor source then carries them; returns once they
  // have played. False when the server did not play them.
  bool playThroughSpeakers(const std::vector<std::int16_t>& samples);

  // Ends the daemon now, as a crash would.
  void stopDaemon();

  // The process that runs the server, a child of this one.
  pid_t processId() const;

  // Takes the microphone away while the server goes on, as when a USB
  // microphone is unplugged. False when the server did not do it.
  bool unplugMicrophone();

  // How many clients the server has (counting the query's own) and how many
  // recording streams; -1 when it cannot be asked.
  int clientCount() const;
  int recordingStreamCount() const;

  // Lets a product run under another user id connect: the directory of
  // the server's socket becomes searchable by everyone.
  void admitOtherUsers() const;

 private:
  // Sends a command to the server and waits up to `patience` for its
  // one-line answer; none when the server has ended or never started.
  std::optional<std::string> ask(const std::string& command,
                                 std::chrono::duration<double> patience);
  // Runs a libpulse client `program` with `arguments` against this server;
  // its output, or none when it failed.
  std::optional<std::string> runClient(const std::string& program,
                                       const std::string& arguments) const;
  std::optional<std::string> control(const std::string& arguments) const {
    return runClient("pactl", arguments);
  }
  int countListed(const std::string& kind) const;
  std::filesystem::path writeSamples(const std::string& name,
                                     const std::vector<std::int16_t>& samples) const;

  const int sampleRate_;
  const int channels_;
  std::unique_ptr<ChildProcess> server_;
  std::string startError_;
  std::filesystem::path directory_;  // the server's own, removed with it
  std::map<std::string, std::string> clientEnvironment_;
};

}  // namespace quorvane::testing
