#include "dictation/locale_argument.h"

#include <regex>

namespace quorvane {

bool isWellFormedLocaleArgument(const std::string& argument) {
  static const std::regex pattern("^[A-Za-z]{2,3}([_-][A-Za-z0-9]{2,8}){0,2}$");
  return std::regex_search(argument, pattern);
}

}  // namespace quorvane
