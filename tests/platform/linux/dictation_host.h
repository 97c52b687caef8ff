#pragma once

// What the end-to-end tests do as a host: run `listen` against an audio
// server of the test's own and the installed US English model, and judge
// what it wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/private_pulse_server.h"
#include "support/child_process.h"

namespace quorvane::testing {

// Only bound a broken run.
inline constexpr std::chrono::seconds kReadyPatience{15};
inline constexpr std::chrono::seconds kEndPatience{30};
inline constexpr std::chrono::seconds kCatchUpPatience{60};

// The shortest LibriVox sentence: "he was not an ill disposed young man".
inline constexpr const char* kSentence = "sense_and_sensibility_01_austen_64kb-0880";

// PocketSphinx's US English model gets about a quarter of this sentence's
// words wrong; far more means the audio was damaged on the way.
inline constexpr double kWordErrorBound = 0.5;

// Whether the product (built like these tests) runs under a sanitizer,
// whose runtime takes memory and makes files of its own.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

using Environment = std::map<std::string, std::string>;

// Locale settings of their own, so the runner's do not leak in.
Environment withLocale(Environment environment, const std::string& lang = "C");

std::vector<std::string> listenCommand(const std::string& locale);

// A copy of the product in `directory`: the build's product finds the Vosk
// engine beside itself, a copy finds what the caller lays beside it.
std::string productCopyIn(const std::filesystem::path& directory);

// `listen` on PocketSphinx alone: a copy of the product without the Vosk
// engine beside it, made once per test process.
std::vector<std::string> pocketSphinxListenCommand(const std::string& locale);

// `listen` on Vosk without Whisper's second pass: a copy of the product
// with only the Vosk engine beside it, made once per test process.
std::vector<std::string> voskOnlyListenCommand(const std::string& locale);

bool contains(const std::vector<std::string>& types, const std::string& type);

// Reads the next line; true when it is "ready".
bool readsReady(ChildProcess& product);

// Waits for "ready"; on anything else the whole run is described.
::testing::AssertionResult becomesReady(ChildProcess& product);

// Waits until a partial result comes close to `transcript`, so that a
// recognizer slowed down by a busy machine has caught up with the speech
// before "stop" (the session grants it only a few seconds after that).
// Gives up after a while: the final result then tells what went wrong.
void waitForRecognizerToCatchUp(ChildProcess& product, const std::string& transcript);

// Speaks `samples` into the server's microphone after "ready", lets a
// second of silence follow, then stops once the recognizer has caught up,
// and closes the product's input right after when `closeInputAfterStop`.
// A run that does not become ready is returned as it ended. `command` is
// `listenCommand(locale)` unless given.
ProcessOutcome dictate(PrivatePulseServer& server, const std::string& locale,
                       const std::vector<std::int16_t>& samples, const std::string& transcript,
                       Environment environment, bool closeInputAfterStop = false,
                       std::vector<std::string> command = {});

// A whole session that heard `transcript`: partial results, then a final
// one close to it, exit status 0.
void expectRecognized(const ProcessOutcome& outcome, const std::string& transcript);

// A whole session that the host cancelled: a valid run ending in
// "cancelled", without "final".
void expectCancelled(const ProcessOutcome& outcome);

}  // namespace quorvane::testing
