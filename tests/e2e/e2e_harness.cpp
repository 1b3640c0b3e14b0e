#include "e2e_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim_switches.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::string Setting(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

}  // namespace

std::string FileText(const fs::path& path, const ProgramFolder& folder) {
    return WithPlaceholders(ReadBytes(path), folder);
}

int CreateForWriting(const fs::path& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void LaySettings(const ProgramFolder& folder, const std::string& tunnel_cfg) {
    WriteBytes(folder.app / "config.ini", ConfigIni(kDeviceId));
    WriteBytes(folder.app / "tunnel.cfg", tunnel_cfg);
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), {}};
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

bool TestingWindowsProgram() {
    return Setting("E2E_PATH_STYLE", "posix") == "windows";
}

std::string ProgramView(const fs::path& path) {
    std::string text = path.string();
    if (TestingWindowsProgram()) {
        for (char& c : text) {
            if (c == '/') {
                c = '\\';
            }
        }
        text = "Z:" + text;
    }
    return text;
}

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Copies the program and its libraries (and the console program, where there
// is one), not the settings or state of that folder.
void CopyProgram(const fs::path& from, const fs::path& to, const std::string& program) {
    fs::create_directory(to);
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() &&
            (name == program || extension == ".so" || extension == ".dll" || extension == ".com")) {
            fs::copy_file(entry.path(), to / name);
            fs::permissions(to / name, entry.status().permissions());
        }
    }
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The system's short spelling of `path`, as the emulator's own tool gives it.
std::string ShortWindowsName(const std::string& path) {
    std::string command;
    for (const std::string& word : Words(Setting("E2E_LAUNCHER", ""))) {
        command += ShellQuoted(word) + " ";
    }
    command += "winepath.exe -s " + ShellQuoted(path) + " 2>/dev/null";
    std::string answer;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[512];
        while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
            answer += chunk;
        }
        pclose(pipe);
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) {
        answer.pop_back();
    }
    if (answer.empty()) {
        ADD_FAILURE() << "the emulator gives no short name for " << path;
        return path;
    }
    return answer;
}

// `path` in the ANSI code page the Windows program runs with (1252), where
// it spells the path: its characters from U+00A0 to U+00FF are bytes there.
std::string AnsiSpelling(const std::string& path) {
    std::string ansi;
    for (std::size_t at = 0; at < path.size(); ++at) {
        const auto byte = static_cast<unsigned char>(path[at]);
        if (byte < 0x80) {
            ansi += path[at];
        } else if ((byte == 0xC2 || byte == 0xC3) && at + 1 < path.size() &&
                   (byte == 0xC3 || static_cast<unsigned char>(path[at + 1]) >= 0xA0)) {
            ansi += static_cast<char>(((byte & 0x03) << 6) | (path[at + 1] & 0x3F));
            ++at;
        } else {
            return path;  // the code page lacks it: the program uses the short name
        }
    }
    return ansi;
}

}  // namespace

ProgramFolder::ProgramFolder(std::size_t folder_length, const std::string& name,
                             bool short_name_on_windows) {
    app = root / (name.empty() ? "app" : name);
    const std::size_t short_length = ProgramView(app).size();
    if (folder_length > short_length) {
        app = root / ("app" + std::string(folder_length - short_length, 'a'));
    }
    fs::create_directories(app.parent_path());
    program = app / Setting("E2E_PROGRAM_NAME", "tunnelconsole");
    CopyProgram(Setting("E2E_PROGRAM_DIR", E2E_DEFAULT_PROGRAM_DIR), app,
                program.filename().string());
    if (!TestingWindowsProgram()) {
        view = ProgramView(app);
    } else {
        view = short_name_on_windows ? ShortWindowsName(ProgramView(app))
                                     : AnsiSpelling(ProgramView(app));
    }
}

pid_t StartProgram(const ProgramFolder& folder, int input, int output,
                   const std::vector<std::pair<std::string, std::string>>& environment, int errors,
                   const char* windows_handles, const std::vector<std::string>& program_arguments) {
    std::vector<std::string> arguments = Words(Setting("E2E_LAUNCHER", ""));
    if (windows_handles != nullptr) {
        arguments.push_back(Setting("E2E_WIN32_LAUNCHER", "std_handles_launcher.exe"));
        for (std::string& option : Words(windows_handles)) {
            arguments.push_back(std::move(option));
        }
    }
    arguments.push_back(folder.program.string());
    arguments.insert(arguments.end(), program_arguments.begin(), program_arguments.end());
    std::vector<char*> argv = Pointers(arguments);

    // The library's switches come from the case alone.
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text(*variable);
        bool replaced = text.starts_with("TUNNEL_SIM_");
        for (const auto& [name, value] : environment) {
            replaced = replaced || (text.starts_with(name) && text.substr(name.size(), 1) == "=");
        }
        if (!replaced) {
            variables.emplace_back(text);
        }
    }
    for (const auto& [name, value] : environment) {
        variables.push_back(name + "=" + value);
    }
    std::vector<char*> envp = Pointers(variables);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int streams[] = {input, output, errors};
    for (int stream = 0; stream < 3; ++stream) {
        if (streams[stream] < 0) {
            posix_spawn_file_actions_addclose(&actions, stream);
        } else {
            posix_spawn_file_actions_adddup2(&actions, streams[stream], stream);
        }
    }
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": error " << spawned;
        return -1;
    }
    return pid;
}

int WaitForEnd(pid_t pid) {
    // A program that never ends fails its case instead of hanging the suite.
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (ended >= 0) {
        pollfd ready{ended, POLLIN, 0};
        if (poll(&ready, 1, kGiveUpMilliseconds) == 0) {
            ADD_FAILURE() << "program still running at the give-up time; killed";
            kill(pid, SIGKILL);
        }
        close(ended);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool ReadMore(int fd, std::string& seen) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kGiveUpMilliseconds) <= 0) {
        return false;
    }
    // As large as a pipe holds, so a read never ends inside one of the
    // program's writes.
    static char buffer[65536];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) {
        return false;
    }
    seen.append(buffer, static_cast<std::size_t>(count));
    return true;
}

int WaitForExit(pid_t pid) {
    if (pid < 0) {
        return -1;
    }
    const int status = WaitForEnd(pid);
    if (!WIFEXITED(status)) {
        ADD_FAILURE() << "program did not exit normally, wait status " << status;
        return -1;
    }
    return WEXITSTATUS(status);
}

void WaitUntilAsleepOrEnded(pid_t pid) {
    for (;;) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // The state follows the parenthesised command name.
        const std::size_t name_end = line.rfind(')');
        if (name_end == std::string::npos || name_end + 2 >= line.size() ||
            line[name_end + 2] != 'R') {
            return;
        }
        sched_yield();
    }
}

std::string WithPlaceholders(std::string text, const ProgramFolder& folder) {
    // Also as the library's trace quotes it: backslashes doubled, bytes from
    // 0x7f up as \xNN.
    const std::string home = folder.view + (TestingWindowsProgram() ? "\\Home" : "/Home");
    for (const auto& [path, placeholder] :
         {std::pair{home, "{HOME}"}, std::pair{folder.view, "{DIR}"}}) {
        std::string quoted;
        for (const char c : path) {
            if (c == '\\') {
                quoted += "\\\\";
            } else if (static_cast<unsigned char>(c) >= 0x7f) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
        // And as a note on standard error shows it: controls as \xNN.
        std::string noted;
        for (const char c : path) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            noted +=
                static_cast<unsigned char>(c) < 0x20 ? std::string(escaped) : std::string(1, c);
        }
        ReplaceAll(text, quoted, placeholder);
        ReplaceAll(text, noted, placeholder);
        ReplaceAll(text, path, placeholder);
    }
    ReplaceAll(text, "{DIR}\\\\", "{DIR}/");
    ReplaceAll(text, "{DIR}\\", "{DIR}/");
    return text;
}

Result Run(const Case& c) {
    const ProgramFolder folder(c.program_folder_length, c.program_folder_name,
                               c.short_name_on_windows);
    const fs::path& app = folder.app;
    const fs::path& root = folder.root;
    if (c.config_ini) {
        WriteBytes(app / "config.ini", *c.config_ini);
    }
    if (c.tunnel_cfg) {
        WriteBytes(app / "tunnel.cfg", *c.tunnel_cfg);
    }
    WriteBytes(root / "input", c.input);
    if (c.lay != nullptr) {
        c.lay(folder);
    }

    auto environment = c.environment;
    const fs::path trace = root / "trace";
    if (c.expected_trace) {
        environment.emplace_back(kSimTraceVariable, trace.string());
    }

    const int input =
        c.no_input ? -1
                   : open((c.input_folder ? root : root / "input").c_str(), O_RDONLY | O_CLOEXEC);
    int output = -1;
    if (c.output == Output::kFile) {
        output = CreateForWriting(root / "output");
    } else if (c.output == Output::kFullDevice) {
        output = open("/dev/full", O_WRONLY | O_CLOEXEC);
    } else if (c.output == Output::kPipeWithoutReader) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {
            close(ends[0]);
            output = ends[1];
        }
    }
    int errors = c.no_error_output ? -1 : CreateForWriting(root / "errors");
    int console = -1;
    if (c.console) {
        close(errors);
        if (openpty(&console, &errors, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
        }
        fcntl(console, F_SETFD, FD_CLOEXEC);
        fcntl(errors, F_SETFD, FD_CLOEXEC);
    }
    Result result;
    const auto start = std::chrono::steady_clock::now();
    result.wait_status = WaitForEnd(
        StartProgram(folder, input, output, environment, errors,
                     c.windows_handles.empty() ? nullptr : c.windows_handles.c_str(), c.arguments));
    result.exit_status = WIFEXITED(result.wait_status) ? WEXITSTATUS(result.wait_status) : -1;
    result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    for (const int stream : {input, output, errors, console}) {
        if (stream >= 0) {
            close(stream);
        }
    }
    if (c.inspect != nullptr) {
        c.inspect(folder);
    }
    result.output = ReadBytes(root / "output");
    result.errors = WithPlaceholders(ReadBytes(root / "errors"), folder);
    if (fs::is_regular_file(app / "tunnel.cfg")) {
        result.tunnel_cfg = ReadBytes(app / "tunnel.cfg");
    }
    result.trace = ReadBytes(trace);
    result.temp_cfg_left = fs::exists(fs::symlink_status(app / "temp.cfg"));
    result.output = WithPlaceholders(result.output, folder);
    result.trace = WithPlaceholders(result.trace, folder);
    if (result.tunnel_cfg) {
        result.tunnel_cfg = WithPlaceholders(*result.tunnel_cfg, folder);
    }
    return result;
}

void RunAndCheck(const Case& c) {
    if (c.posix_only != nullptr && TestingWindowsProgram()) {
        GTEST_SKIP() << c.posix_only;
    }
    if (!c.windows_handles.empty() && !TestingWindowsProgram()) {
        GTEST_SKIP() << "standard handles only a Windows parent gives";
    }
    if (c.windows_only != nullptr && !TestingWindowsProgram()) {
        GTEST_SKIP() << c.windows_only;
    }
    const Result result = Run(c);
    EXPECT_EQ(result.exit_status, c.expected_status)
        << c.name << ", wait status " << result.wait_status;
    EXPECT_EQ(result.output, c.expected_output) << c.name;
    const bool windows_words = c.windows_expected_errors && TestingWindowsProgram();
    EXPECT_EQ(result.errors, windows_words ? *c.windows_expected_errors : c.expected_errors)
        << c.name;
    EXPECT_GE(result.duration, c.min_duration) << c.name;
    if (c.expected_tunnel_cfg) {
        EXPECT_EQ(result.tunnel_cfg, *c.expected_tunnel_cfg) << c.name;
    }
    if (c.expected_trace) {
        EXPECT_EQ(result.trace, *c.expected_trace) << c.name;
    }
    EXPECT_FALSE(result.temp_cfg_left) << c.name;
}

}  // namespace e2e
