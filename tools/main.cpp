// quorvel: the command-line host over the library (see options.cpp for its
// grammar, tools/quorvel.1 for its manual).
#include "commands.h"
#include "report.h"
#include "system.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  std::string why;
  if (!quorvel::cli::CommandLineArguments(argc, argv, &arguments, &why)) {
    quorvel::cli::WriteError("quorvel: " + why + "\n");
    return quorvel::cli::kExitUsage;
  }
  return quorvel::cli::RunCommandLine(arguments);
}
