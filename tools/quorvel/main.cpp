// quorvel: the command-line host over the library (see options.cpp for its
// grammar, tools/quorvel.1 for its manual).
#include <exception>
#include <new>
#include <stdexcept>

#include "commands/commands.h"
#include "present/report.h"
#include "system/system.h"

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  const Reporter report;
  // Whatever is thrown ends here, after unwinding has closed and removed
  // every temporary file; the memory it freed lets the message be written.
  try {
    std::vector<std::string> arguments;
    std::string why;
    if (!CommandLineArguments(argc, argv, &arguments, &why)) {
      report.Error(why);
      return kExitUsage;
    }
    return RunCommandLine(arguments);
  } catch (const std::bad_alloc&) {
    report.Error("out of memory");
  } catch (const std::length_error&) {
    // A size past what a string or vector can hold: memory, in effect.
    report.Error("out of memory");
  } catch (const std::exception& error) {
    report.Error("internal error: " + std::string(error.what()));
  } catch (...) {
    report.Error("internal error");
  }
  return kExitFailed;
}
