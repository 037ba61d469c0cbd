#include <cstring>
#include <iostream>

#include "model/AppInfo.hpp"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "Norvo " << norvo::AppInfo::version() << "\n";
        return 0;
    }
    std::cerr << "norvo: the window is not built yet; try --version\n";
    return 1;
}
