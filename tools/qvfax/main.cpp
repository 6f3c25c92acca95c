#include "command.h"
#include "core/version_option.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>

namespace qv::qvfax {

static std::map<std::string, Command>& commands() {
  static std::map<std::string, Command> table;
  return table;
}

void registerCommand(const Command& command) { commands()[command.name] = command; }

}  // namespace qv::qvfax

static int usage(std::ostream& out, int status) {
  out << "usage: qvfax COMMAND [ARGS...] | qvfax --version\n\ncommands:\n";
  for (const auto& [name, command] : qv::qvfax::commands()) out << "  " << command.usage << "\n";
  return status;
}

int main(int argc, char** argv) {
  if (qv::core::AnswerVersionOption(argc, argv, "qvfax")) return 0;
  if (argc < 2) return usage(std::cerr, 2);
  std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") return usage(std::cout, 0);
  auto it = qv::qvfax::commands().find(name);
  if (it == qv::qvfax::commands().end()) {
    std::cerr << "qvfax: unknown command '" << name << "'\n";
    return usage(std::cerr, 2);
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  try {
    return it->second.run(args);
  } catch (const std::exception& e) {
    std::cerr << "qvfax " << name << ": " << e.what() << "\n";
    return 1;
  }
}
