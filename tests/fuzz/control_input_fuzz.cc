// Any bytes on standard input: the line reader returns valid UTF-8 lines
// without line feeds, one for each line feed plus one for trailing bytes, and
// command matching accepts only the two exact words.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "dictation/control_command.h"
#include "dictation/line_reader.h"
#include "dictation/unicode_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fd = memfd_create("input", 0);
  if (fd < 0) std::abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  lseek(fd, 0, SEEK_SET);

  std::size_t feeds = 0;
  for (std::size_t i = 0; i < size; ++i) feeds += data[i] == '\n';
  bool trailing = size > 0 && data[size - 1] != '\n';

  quorvane::LineReader reader(fd);
  std::size_t lines = 0;
  while (std::optional<std::string> line = reader.next()) {
    ++lines;
    if (line->find('\n') != std::string::npos) std::abort();
    try {
      (void)nlohmann::json(*line).dump();
    } catch (const nlohmann::json::exception&) {
      std::abort();  // Not valid UTF-8.
    }
    quorvane::ControlCommand command = quorvane::matchControlCommand(*line);
    std::string word = quorvane::trimSpacesAndTabs(*line);
    if ((command == quorvane::ControlCommand::stop) != (word == "stop")) std::abort();
    if ((command == quorvane::ControlCommand::cancel) != (word == "cancel")) std::abort();
  }
  close(fd);
  if (lines != feeds + (trailing ? 1 : 0)) std::abort();
  return 0;
}
