// The program's POSIX stand-ins for the Win32 calls against the system's own
// functions, on the same inputs: every request is answered in-process by the
// stand-ins and, in one batch, by the probe program built for Windows and run
// through DIFFERENTIAL_LAUNCHER (an emulator). Intended differences are
// written down in the rows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../common/ini_cases.h"
#include "../common/scratch.h"
#include "probe.h"

namespace differential {
namespace {

namespace fs = std::filesystem;
using ini_rules::IniCase;
using ini_rules::IniCases;

struct PathCase {
    const char* name;
    const char* call;  // "combine" or "removespec"
    std::string first;
    std::string second = {};  // the name joined, for "combine"
    const char* intended_difference = nullptr;
    std::string posix_expected = {};
};

// POSIX paths; on Windows the same paths are asked about on drive C:.
std::vector<PathCase> PathCases() {
    return {
        {"JoinFolderAndName", "combine", "/opt/app", "config.ini"},
        {"JoinFolderWithSeparator", "combine", "/opt/app/", "tunnel.cfg"},
        {"JoinRoot", "combine", "/", "Home"},
        {"JoinAbsoluteName", "combine", "/opt/app", "/etc/config.ini"},
        {"JoinEmptyName", "combine", "/opt/app", ""},
        {"JoinLongFolder", "combine", "/opt/" + std::string(250, 'a'), "config.ini",
         "Win32 paths end at 260 characters; POSIX paths are longer",
         "/opt/" + std::string(250, 'a') + "/config.ini"},
        {"JoinDotDot", "combine", "/opt/app/..", "config.ini",
         "Win32 folds . and ..; the program only joins a folder and a name",
         "/opt/app/../config.ini"},
        {"RemoveName", "removespec", "/opt/app/tunnelconsole"},
        {"RemoveTrailingSeparator", "removespec", "/opt/app/"},
        {"RemoveFromRootChild", "removespec", "/tunnelconsole"},
        {"RemoveFromRoot", "removespec", "/"},
        {"RemoveRelativeName", "removespec", "tunnelconsole"},
        {"RemoveEmpty", "removespec", ""},
    };
}

std::string Setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string ToWindows(std::string_view posix_path, const char* drive) {
    std::string path(posix_path);
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path.starts_with('\\') ? drive + path : path;
}

// An answer's text as a POSIX path, for comparing path answers.
std::string FromWindowsAnswer(const std::string& answer) {
    std::istringstream fields(answer);
    std::string result;
    std::string hex;
    fields >> result >> hex;
    std::string path = Unhex(hex);
    if (path.starts_with("C:")) {
        path.erase(0, 2);
    }
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result + " " + Hex(path);
}

// Scratch folder for the INI files, shared by both sides, removed at exit.
const fs::path& ScratchFolder() {
    static const Scratch scratch;
    return scratch.path();
}

struct RequestPair {
    std::string posix;
    std::string windows;
};

RequestPair IniRequest(const IniCase& c) {
    const fs::path file = ScratchFolder() / (std::string(c.name) + ".ini");
    std::ofstream(file, std::ios::binary) << c.file;
    const std::string common = "ini " + Hex(c.section) + " " + Hex(c.key) + " " +
                               Hex(c.default_value) + " " + std::to_string(c.size) + " ";
    return {common + Hex(file.string()), common + Hex(ToWindows(file.string(), "Z:"))};
}

RequestPair PathRequest(const PathCase& c) {
    std::string posix = std::string(c.call) + " " + Hex(c.first);
    std::string windows = std::string(c.call) + " " + Hex(ToWindows(c.first, "C:"));
    if (std::string_view(c.call) == "combine") {
        posix += " " + Hex(c.second);
        windows += " " + Hex(ToWindows(c.second, "C:"));
    }
    return {posix, windows};
}

std::vector<RequestPair> AllRequests() {
    std::vector<RequestPair> requests;
    for (const IniCase& c : IniCases()) {
        requests.push_back(IniRequest(c));
    }
    for (const PathCase& c : PathCases()) {
        requests.push_back(PathRequest(c));
    }
    return requests;
}

// The probe's answers to every request, in order; asked once for all tests.
const std::vector<std::string>& WindowsAnswers() {
    static const std::vector<std::string> answers = [] {
        const fs::path requests_file = ScratchFolder() / "requests";
        const fs::path answers_file = ScratchFolder() / "answers";
        {
            std::ofstream requests(requests_file, std::ios::binary);
            for (const RequestPair& request : AllRequests()) {
                requests << request.windows << '\n';
            }
        }
        const std::string command = Setting("DIFFERENTIAL_LAUNCHER") + " '" +
                                    Setting("DIFFERENTIAL_PROBE") + "' < '" +
                                    requests_file.string() + "' > '" + answers_file.string() + "'";
        std::vector<std::string> lines;
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "probe failed: " << command;
            return lines;
        }
        std::ifstream answers(answers_file, std::ios::binary);
        for (std::string line; std::getline(answers, line);) {
            lines.push_back(line);
        }
        return lines;
    }();
    return answers;
}

std::string WindowsAnswer(std::size_t index) {
    const std::vector<std::string>& answers = WindowsAnswers();
    return index < answers.size() ? answers[index] : "no answer";
}

class Differential : public testing::Test {
protected:
    void SetUp() override {
        if (Setting("DIFFERENTIAL_PROBE").empty()) {
            GTEST_SKIP() << "DIFFERENTIAL_PROBE names no probe program";
        }
    }
};

class IniDifferential : public Differential, public testing::WithParamInterface<std::size_t> {};

// The stand-in's own answers are checked against the rows in the unit tests.
TEST_P(IniDifferential, SameAsWin32) {
    const IniCase c = IniCases()[GetParam()];
    const std::string posix = ProbeAnswer(IniRequest(c).posix);
    const std::string windows = WindowsAnswer(GetParam());
    if (c.intended_difference == nullptr) {
        EXPECT_EQ(posix, windows) << c.name;
    } else {
        EXPECT_NE(posix, windows) << c.name << " no longer differs: " << c.intended_difference;
    }
}

INSTANTIATE_TEST_SUITE_P(Ini, IniDifferential, testing::Range<std::size_t>(0, IniCases().size()),
                         [](const auto& info) { return IniCases()[info.param].name; });

class PathDifferential : public Differential, public testing::WithParamInterface<std::size_t> {};

TEST_P(PathDifferential, SameAsWin32) {
    const PathCase c = PathCases()[GetParam()];
    const std::string posix = ProbeAnswer(PathRequest(c).posix);
    const std::string windows = FromWindowsAnswer(WindowsAnswer(IniCases().size() + GetParam()));
    if (c.intended_difference == nullptr) {
        EXPECT_EQ(posix, windows) << c.name;
    } else {
        EXPECT_NE(posix, windows) << c.name << " no longer differs: " << c.intended_difference;
        EXPECT_EQ(posix, "1 " + Hex(c.posix_expected)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Path, PathDifferential, testing::Range<std::size_t>(0, PathCases().size()),
                         [](const auto& info) { return PathCases()[info.param].name; });

}  // namespace
}  // namespace differential
