// patool: see patool.h.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/patool/patool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return patool::Run(args, std::cout, std::cerr, ::isatty(2) != 0);
}
