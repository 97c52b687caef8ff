#pragma once

#include <string_view>
#include <vector>

#include "platform/linux/speech/timed_word.h"

namespace quorvane::platform::linux_backend {

// The words of one of libvosk's JSON results: those under "result" in a
// result, or under "partial_result" in a partial one (`key`), each with
// its "word", "start" and "end". Words the model could not name ("[unk]")
// are left out, and so is anything malformed: a result that does not parse
// has no words.
std::vector<TimedWord> wordsOfVoskResult(std::string_view json, std::string_view key);

// The words of a partial result's text ("partial"), which libvosk has
// without their times: all of them are given `seconds`, the audio heard so
// far, so that no pause shows inside or after them until the utterance ends.
std::vector<TimedWord> wordsOfVoskPartial(std::string_view json, double seconds);

}  // namespace quorvane::platform::linux_backend
