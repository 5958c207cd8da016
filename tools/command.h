// The qmsock command-line tool: one executable, one command per word.
//
// Each command lives in a tools/cmd_*.cpp file of its own and registers itself
// at start-up with a static Registrar, so adding a command touches no other file:
//
//     static const qm::tool::Registrar reg{{"keygen", "generate an RSA key pair",
//                                           "usage: qmsock keygen [...]", &RunKeygen}};
//
// A command's run function receives the arguments after the command word and
// returns the process exit code: 0 on success, 2 for a bad argument (after naming
// it on standard error), 1 for any other failure. "--help" in its arguments is the
// command's own business; main() handles "qmsock --help" and "qmsock help CMD".
#pragma once

#include <string_view>
#include <vector>

namespace qm::tool {

struct Command {
    std::string_view name;
    std::string_view summary;  // one line for the tool's --help
    std::string_view usage;    // the command's --help text
    int (*run)(const std::vector<std::string_view>& args);
};

struct Registrar {
    explicit Registrar(const Command& command);
};

// Every registered command, sorted by name.
const std::vector<Command>& Commands();

// The tool's entry point, separate from main() so tests can drive it in-process.
int RunTool(const std::vector<std::string_view>& argv);

}  // namespace qm::tool
