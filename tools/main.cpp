#include <string_view>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv, argv + argc);
    return qm::tool::RunTool(args);
}
