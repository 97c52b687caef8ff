#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/scoped_environment.h"

namespace quorvane::testing {

// A PulseAudio daemon of the test's own, in a temporary directory, whose
// default source is a virtual microphone: a pipe source fed by this object
// at real-time pace. A pipe source only produces audio while it is written
// to, so silence flows whenever no speech is being played, as from a real
// microphone in a quiet room. Only the daemon started here is ever stopped.
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
  std::map<std::string, std::string> clientEnvironment() const;

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

  // The daemon's process id; -1 once it has ended.
  pid_t daemonPid() const { return daemon_; }

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
  void start();
  bool waitUntilServing();
  void feedMicrophone(int fifo);
  std::string daemonLog() const;
  // Runs a libpulse client `program` with `arguments` against this server;
  // its output, or none when it failed.
  std::optional<std::string> runClient(const std::string& program,
                                       const std::string& arguments) const;
  std::optional<std::string> control(const std::string& arguments) const {
    return runClient("pactl", arguments);
  }
  int countListed(const std::string& kind) const;

  const int sampleRate_;
  const int channels_;
  TemporaryDirectory directory_;
  pid_t daemon_ = -1;
  std::string startError_;
  std::thread feeder_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::int16_t> pending_;  // Samples still to play.
  bool stopping_ = false;
  bool feederEnded_ = false;
};

}  // namespace quorvane::testing
