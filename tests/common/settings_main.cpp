// Test main for programs that ctest starts with settings: each NAME=VALUE
// argument left after googletest's own flags becomes an environment variable
// of the test process (and so of the programs it starts).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string setting = argv[i];
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "expected NAME=VALUE, got '%s'\n", argv[i]);
            return 2;
        }
        setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    return RUN_ALL_TESTS();
}
