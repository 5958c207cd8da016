#include "command.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qm::tool {

namespace {
// Function-local so registration from other translation units' static
// initialisers never sees an unconstructed list.
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void PrintToolHelp(FILE* out) {
    std::fprintf(out,
                 "usage: qmsock COMMAND [ARGS...]\n"
                 "       qmsock help COMMAND   (or qmsock COMMAND --help)\n\ncommands:\n");
    for (const Command& c : Commands()) {
        std::fprintf(out, "  %-14.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.size()), c.summary.data());
    }
}

const Command* Find(std::string_view name) {
    for (const Command& c : Commands()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}
}  // namespace

Registrar::Registrar(const Command& command) {
    auto& commands = Registry();
    commands.push_back(command);
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
}

const std::vector<Command>& Commands() {
    return Registry();
}

int RunTool(const std::vector<std::string_view>& argv) {
    if (argv.size() < 2) {
        PrintToolHelp(stderr);
        return 2;
    }
    std::string_view word = argv[1];
    if (word == "--help" || word == "-h") {
        PrintToolHelp(stdout);
        return 0;
    }
    if (word == "help") {
        if (argv.size() == 2) {
            PrintToolHelp(stdout);
            return 0;
        }
        const Command* c = Find(argv[2]);
        if (c == nullptr) {
            std::fprintf(stderr, "qmsock: unknown command '%.*s'\n", static_cast<int>(argv[2].size()),
                         argv[2].data());
            return 2;
        }
        std::fprintf(stdout, "%.*s\n", static_cast<int>(c->usage.size()), c->usage.data());
        return 0;
    }
    const Command* c = Find(word);
    if (c == nullptr) {
        std::fprintf(stderr, "qmsock: unknown command '%.*s' (try qmsock --help)\n",
                     static_cast<int>(word.size()), word.data());
        return 2;
    }
    return c->run(std::vector<std::string_view>(argv.begin() + 2, argv.end()));
}

}  // namespace qm::tool
