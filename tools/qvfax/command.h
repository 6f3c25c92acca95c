#pragma once

#include <string>
#include <vector>

namespace qv::qvfax {

// One sub-command of qvfax ("convert", "info", "export", "send", ...). Each command lives in its
// own file and registers itself with a static QvfaxCommand object, so adding a command never
// touches main.cpp.
struct Command {
  const char* name;
  const char* usage;  // one or more lines shown by "qvfax help"
  int (*run)(const std::vector<std::string>& args);  // args after the command name; exit status
};

void registerCommand(const Command& command);

struct QvfaxCommand {
  explicit QvfaxCommand(const Command& command) { registerCommand(command); }
};

}  // namespace qv::qvfax
