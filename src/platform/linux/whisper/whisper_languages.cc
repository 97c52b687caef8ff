#include "platform/linux/whisper/whisper_languages.h"

#include <algorithm>
#include <array>

namespace quorvane::platform::linux_backend {
namespace {

// whisper.cpp's own list (g_lang in src/whisper.cpp), in its order.
constexpr std::array<std::string_view, 100> kLanguages{
    "en", "zh", "de", "es",  "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl", "ar", "sv",
    "it", "id", "hi", "fi",  "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no",
    "th", "ur", "hr", "bg",  "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr",
    "az", "sl", "kn", "et",  "mk", "br", "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw",
    "gl", "mr", "pa", "si",  "km", "sn", "yo", "so", "af", "oc", "ka", "be", "tg", "sd", "gu",
    "am", "yi", "lo", "uz",  "fo", "ht", "ps", "tk", "nn", "mt", "sa", "lb", "my", "bo", "tl",
    "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su", "yue"};

}  // namespace

bool whisperKnowsLanguage(std::string_view language) {
  return std::find(kLanguages.begin(), kLanguages.end(), language) != kLanguages.end();
}

}  // namespace quorvane::platform::linux_backend
