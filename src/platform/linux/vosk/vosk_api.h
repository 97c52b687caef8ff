#pragma once

#include <filesystem>
#include <vector>

// libvosk's own types, used only through pointers.
struct VoskModel;
struct VoskRecognizer;

namespace quorvane::platform::linux_backend {

// The Vosk functions this layer calls, as libvosk's C API declares them.
// libvosk ships no header, so they are declared here, and only here.
#define QUORVANE_VOSK_FUNCTIONS(X)                                                         \
  X(vosk_set_log_level, void, int level)                                                   \
  X(vosk_model_new, VoskModel*, const char* modelPath)                                     \
  X(vosk_model_free, void, VoskModel* model)                                               \
  X(vosk_recognizer_new, VoskRecognizer*, VoskModel* model, float sampleRate)              \
  X(vosk_recognizer_set_words, void, VoskRecognizer* recognizer, int words)                \
  X(vosk_recognizer_set_partial_words, void, VoskRecognizer* recognizer, int words)        \
  X(vosk_recognizer_accept_waveform_s, int, VoskRecognizer* recognizer, const short* data, \
    int samples)                                                                           \
  X(vosk_recognizer_result, const char*, VoskRecognizer* recognizer)                       \
  X(vosk_recognizer_partial_result, const char*, VoskRecognizer* recognizer)               \
  X(vosk_recognizer_final_result, const char*, VoskRecognizer* recognizer)                 \
  X(vosk_recognizer_free, void, VoskRecognizer* recognizer)

struct VoskApi {
#define QUORVANE_VOSK_POINTER(name, result, ...) result (*name)(__VA_ARGS__) = nullptr;
  QUORVANE_VOSK_FUNCTIONS(QUORVANE_VOSK_POINTER)
#undef QUORVANE_VOSK_POINTER
};

// Where libvosk is looked for, in order: beside the program (a build
// tree), in the program's own library folder (lib/quorvane-dictation/vosk beside
// its bin directory), then in the system's library folders.
std::vector<std::filesystem::path> voskLibraryCandidates();

// The first candidate that exists, or an empty path: whether Vosk can
// serve, known without loading it.
std::filesystem::path voskLibraryPath();

// The loaded functions, or null when libvosk is missing, cannot be loaded
// or lacks one of them. Its log is silenced before anything else: Kaldi
// writes to standard error otherwise, which belongs to the host.
// Thread-safe; opened once, on first use, by the recognizer's own thread.
const VoskApi* voskApi();

}  // namespace quorvane::platform::linux_backend
