#include "platform/linux/private_pulse_server.h"

#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How much audio one write carries: what a sound card's period might hold.
constexpr std::chrono::milliseconds kFeedPeriod{20};

// The daemon may take a while on a loaded machine; this only bounds a
// broken start.
constexpr std::chrono::seconds kStartLimit{15};

bool canConnect(const std::filesystem::path& socketPath) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

bool writeWhole(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

PrivatePulseServer::PrivatePulseServer(int sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {
  ::signal(SIGPIPE, SIG_IGN);  // A daemon that dies must not take the test with it.
  start();
}

PrivatePulseServer::~PrivatePulseServer() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  stopDaemon();  // Its end also wakes a feeder blocked on the full pipe.
  if (feeder_.joinable()) feeder_.join();
}

void PrivatePulseServer::stopDaemon() {
  if (daemon_ <= 0) return;
  ::kill(daemon_, SIGTERM);
  ::waitpid(daemon_, nullptr, 0);
  daemon_ = -1;
}

void PrivatePulseServer::start() {
  const std::filesystem::path& root = directory_.path();
  std::filesystem::path home = directory_.makeDirectory("server-home");
  std::filesystem::path runtime = directory_.makeDirectory("server-runtime");
  directory_.makeDirectory("client-home");
  std::filesystem::path fifo = root / "microphone.fifo";
  // The socket comes last: once it answers, the microphone is there and is
  // the default source.
  std::string script;
  if (sampleRate_ != kNoMicrophone) {
    script =
        "load-module module-null-sink sink_name=speakers\n"
        "load-module module-pipe-source source_name=microphone file=" +
        fifo.string() + " format=s16le rate=" + std::to_string(sampleRate_) +
        " channels=" + std::to_string(channels_) +
        "\n"
        "set-default-source microphone\n";
  }
  script += "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
            (root / "native").string() + "\n";
  std::filesystem::path scriptFile = directory_.writeFile("server.pa", script);
  std::string log = (root / "daemon.log").string();

  // Made before the fork: the child of a threaded test may not allocate.
  std::vector<std::string> variables = childEnvironment({{"HOME", home.string()},
                                                         {"XDG_RUNTIME_DIR", runtime.string()},
                                                         {"PULSE_RUNTIME_PATH", runtime.string()}});
  std::vector<char*> envp = execList(variables);
  std::vector<std::string> arguments = {"pulseaudio",
                                        "-n",
                                        "-F",
                                        scriptFile.string(),
                                        "--daemonize=no",
                                        "--system=no",
                                        "--use-pid-file=no",
                                        "--exit-idle-time=-1",
                                        "--realtime=no",
                                        "--high-priority=no",
                                        "--log-target=stderr",
                                        "--log-level=error"};
  std::vector<char*> args = execList(arguments);

  daemon_ = ::fork();
  if (daemon_ < 0) {
    startError_ = "fork failed";
    return;
  }
  if (daemon_ == 0) {
    int devNull = ::open("/dev/null", O_RDONLY);
    int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(devNull, 0);
    ::dup2(logFd, 1);
    ::dup2(logFd, 2);
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (!waitUntilServing()) {
    startError_ = "the audio server did not start:\n" + daemonLog();
    return;
  }
  if (sampleRate_ == kNoMicrophone) return;
  int fifoFd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  if (fifoFd < 0) {
    startError_ = "cannot open the microphone's pipe";
    return;
  }
  feeder_ = std::thread([this, fifoFd] { feedMicrophone(fifoFd); });
}

bool PrivatePulseServer::waitUntilServing() {
  auto deadline = Clock::now() + kStartLimit;
  while (Clock::now() < deadline) {
    if (::waitpid(daemon_, nullptr, WNOHANG) == daemon_) {
      daemon_ = -1;
      return false;
    }
    if (canConnect(directory_.path() / "native")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::map<std::string, std::string> PrivatePulseServer::clientEnvironment() const {
  return {
      {"PULSE_SERVER", "unix:" + (directory_.path() / "native").string()},
      {"HOME", (directory_.path() / "client-home").string()},
      {"XDG_RUNTIME_DIR", ""},
      {"PULSE_RUNTIME_PATH", ""},
      {"PULSE_COOKIE", ""},
      {"XDG_DATA_HOME", ""},
      {"XDG_DATA_DIRS", ""},
  };
}

void PrivatePulseServer::play(const std::vector<std::int16_t>& samples) {
  std::unique_lock guard(lock_);
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  changed_.wait(guard, [this] { return pending_.empty() || feederEnded_; });
}

void PrivatePulseServer::playSilence(double seconds) {
  play(std::vector<std::int16_t>(static_cast<std::size_t>(seconds * sampleRate_) * channels_, 0));
}

void PrivatePulseServer::feedMicrophone(int fifo) {
  const std::size_t periodSamples =
      static_cast<std::size_t>(sampleRate_ * kFeedPeriod.count() / 1000) * channels_;
  std::vector<std::int16_t> period(periodSamples);
  auto due = Clock::now();
  for (;;) {
    {
      std::unique_lock guard(lock_);
      if (stopping_) break;
      std::size_t taken = std::min(pending_.size(), periodSamples);
      std::copy_n(pending_.begin(), taken, period.begin());
      std::fill(period.begin() + static_cast<std::ptrdiff_t>(taken), period.end(), 0);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    changed_.notify_all();
    if (!writeWhole(fifo, reinterpret_cast<const char*>(period.data()), period.size() * 2)) break;
    due += kFeedPeriod;
    std::this_thread::sleep_until(due);
  }
  ::close(fifo);
  {
    std::lock_guard guard(lock_);
    feederEnded_ = true;
  }
  changed_.notify_all();
}

std::optional<std::string> PrivatePulseServer::runClient(const std::string& program,
                                                         const std::string& arguments) const {
  // With the server's own home, so that the client leaves nothing in the
  // product's.
  const std::filesystem::path& root = directory_.path();
  std::string command = "env HOME='" + (root / "server-home").string() + "' XDG_RUNTIME_DIR='" +
                        (root / "server-runtime").string() + "' " + program +
                        " -s 'unix:" + (root / "native").string() + "' " + arguments +
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
  std::filesystem::path file = directory_.path() / "speakers.raw";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(samples.data()),
              static_cast<std::streamsize>(samples.size() * sizeof samples[0]));
  }
  return runClient("pacat",
                   "--playback --raw --format=s16le --rate=" + std::to_string(sampleRate_) +
                       " --channels=" + std::to_string(channels_) + " --device=speakers '" +
                       file.string() + "'")
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
  std::filesystem::permissions(directory_.path(), std::filesystem::perms::owner_all |
                                                      std::filesystem::perms::group_read |
                                                      std::filesystem::perms::group_exec |
                                                      std::filesystem::perms::others_read |
                                                      std::filesystem::perms::others_exec);
}

std::string PrivatePulseServer::daemonLog() const {
  std::ifstream in(directory_.path() / "daemon.log");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorvane::testing
