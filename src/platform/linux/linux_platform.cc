// TEMPORARY development placeholder, replaced by the real layer.
#include "platform/linux/linux_platform.h"
namespace quorvane::platform::linux_backend {
namespace {
struct Speech : SpeechService {
  int authorizationStatus() override { return 3; }
  void requestAuthorization(std::function<void(int)> h) override { h(3); }
  std::shared_ptr<Recognizer> recognizer(const std::string&) override { return nullptr; }
  std::shared_ptr<Recognizer> defaultRecognizer() override { return nullptr; }
  std::shared_ptr<RecognitionRequest> makeBufferRequest() override { return nullptr; }
};
struct Audio : AudioService {
  int authorizationStatus() override { return 3; }
  void requestAccess(std::function<void(bool)> h) override { h(true); }
  std::unique_ptr<AudioEngine> makeEngine() override { return nullptr; }
};
struct System : SystemInfo {
  bool isVersionAtLeast(int, int) override { return false; }
  std::string currentLocaleIdentifier() override { return "en_US"; }
};
}  // namespace
struct LinuxPlatform::Impl {
  Speech speech;
  Audio audio;
  System system;
  Platform platform;
  explicit Impl(MainQueue& q) : platform{speech, audio, q, system} {}
};
LinuxPlatform::LinuxPlatform(MainQueue& q) : impl_(std::make_unique<Impl>(q)) {}
LinuxPlatform::~LinuxPlatform() = default;
Platform& LinuxPlatform::platform() { return impl_->platform; }
}  // namespace quorvane::platform::linux_backend
