#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "../../fuzz/text_model.h"
#include "../common/scratch.h"
#include "startup/tunnel_config.h"

// The tests stand between the rewrite and the system at fsync and rename, to
// act at the moment a concurrent editor or a failing disk would. A hook
// returns an errno value to fail the call with, or 0 to let it through.
namespace hooks {
int (*on_fsync)(int call) = nullptr;
int (*on_rename)() = nullptr;
int fsync_calls = 0;
}  // namespace hooks

extern "C" int fsync(int fd) {
    ++hooks::fsync_calls;
    if (hooks::on_fsync != nullptr) {
        if (const int error = hooks::on_fsync(hooks::fsync_calls); error != 0) {
            errno = error;
            return -1;
        }
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char* from, const char* to) noexcept {
    if (hooks::on_rename != nullptr) {
        if (const int error = hooks::on_rename(); error != 0) {
            errno = error;
            return -1;
        }
    }
    return static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
}

namespace {

namespace fs = std::filesystem;

class PrepareTunnelConfigTest : public testing::Test {
protected:
    void TearDown() override {
        hooks::on_fsync = nullptr;
        hooks::on_rename = nullptr;
    }

    fs::path tunnel() const { return dir_ / "tunnel.cfg"; }
    fs::path temp() const { return dir_ / "temp.cfg"; }
    void Prepare() const { PrepareTunnelConfig(dir_.c_str()); }

    // Runs the rewrite with fsync and rename counted from zero; returns what
    // it said on standard error, with the folder's path as "{DIR}".
    std::string PrepareReporting() const {
        hooks::fsync_calls = 0;
        testing::internal::CaptureStderr();
        Prepare();
        std::string errors = testing::internal::GetCapturedStderr();
        for (std::size_t at = errors.find(dir_.string()); at != std::string::npos;
             at = errors.find(dir_.string())) {
            errors.replace(at, dir_.string().size(), "{DIR}");
        }
        return errors;
    }

    // `text` with each "@" replaced by the new Home item.
    std::string WithHomeItem(const std::string& text) const {
        std::string expected;
        for (const char ch : text) {
            expected += ch == '@' ? home_item_ : std::string(1, ch);
        }
        return expected;
    }

    Scratch scratch_;
    const fs::path& dir_ = scratch_.path();
    const std::string home_item_ = "(Home){" + (dir_ / "Home").string() + "}";
};

// Where the hooks find the folder of the test that runs.
fs::path hooked_dir;

// An editor's save, as most editors make it: a new file renamed over the old.
int SaveByRename(int call) {
    WriteBytes(hooked_dir / "edit.tmp", "(Home){x}\nsave " + std::to_string(call) + "\n");
    fs::rename(hooked_dir / "edit.tmp", hooked_dir / "tunnel.cfg");
    return 0;
}

// A save written into the file itself, of the same length.
int SaveInPlace(int call) {
    std::FILE* file = std::fopen((hooked_dir / "tunnel.cfg").c_str(), "r+b");
    std::fprintf(file, "(Home){x}\nsave %d\n", call);
    std::fclose(file);
    return 0;
}

std::string NotRewritten(const std::string& reason) {
    return "tunnelconsole: tunnel.cfg was not rewritten: " + reason + "\r\n";
}

// A save, or a fault, at the moment the rewrite flushes (the first fsync
// flushes temp.cfg, before the rename; the second, the folder after it) or
// renames: what the rewrite says, and tunnel.cfg after it. No temp.cfg is left.
TEST_F(PrepareTunnelConfigTest, SavesAndFaultsAtTheFlushesAndTheRename) {
    const std::string saved = "(Home){x}\nsave 0\n";
    const struct {
        const char* name;
        std::string before;
        int (*on_fsync)(int call);
        int (*on_rename)();
        std::string errors;
        std::string after;  // "@" stands for the new Home item
    } cases[] = {
        {"save by rename during the rewrite is kept", saved,
         [](int call) { return call == 1 ? SaveByRename(call) : 0; }, nullptr, "",
         "@\r\nsave 1\r\n"},
        {"save in place during the rewrite is kept", saved,
         [](int call) { return call == 1 ? SaveInPlace(call) : 0; }, nullptr, "",
         "@\r\nsave 1\r\n"},
        {"file that keeps changing is left after three tries", saved, SaveByRename, nullptr,
         NotRewritten("{DIR}/tunnel.cfg changed while it was rewritten, 3 times"),
         "(Home){x}\nsave 3\n"},
        // Reported once, though the text is written again.
        {"NUL byte", std::string("(Home){x}\n\0\n", 12),
         [](int call) {
             if (call == 1) {
                 WriteBytes(hooked_dir / "edit.tmp", std::string("(Home){x}\nsaved\0\n", 17));
                 fs::rename(hooked_dir / "edit.tmp", hooked_dir / "tunnel.cfg");
             }
             return 0;
         },
         nullptr,
         "tunnelconsole: tunnel.cfg holds a NUL byte: the library reads its line only up to it\r\n",
         std::string("@\r\nsaved\0\r\n", 11)},
        {"failed replace", saved, nullptr, [] { return EPERM; },
         NotRewritten("cannot replace {DIR}/tunnel.cfg: Operation not permitted"), saved},
        {"folder not flushed after the rename", saved, [](int call) { return call == 2 ? EIO : 0; },
         nullptr,
         "tunnelconsole: tunnel.cfg was replaced, but its folder could not be flushed to "
         "stable storage: Input/output error\r\n",
         "@\r\nsave 0\r\n"},
        {"temp.cfg not flushed", saved, [](int) { return EIO; }, nullptr,
         NotRewritten("cannot flush {DIR}/temp.cfg: Input/output error"), saved},
    };
    hooked_dir = dir_;
    for (const auto& c : cases) {
        WriteBytes(tunnel(), c.before);
        hooks::on_fsync = c.on_fsync;
        hooks::on_rename = c.on_rename;
        EXPECT_EQ(PrepareReporting(), c.errors) << c.name;
        EXPECT_EQ(ReadBytes(tunnel()), WithHomeItem(c.after)) << c.name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp()))) << c.name;
    }
}

// Shapes of tunnel.cfg that the end-to-end rows do not give.
TEST_F(PrepareTunnelConfigTest, RewritesTheHomeItem) {
    const std::string long_prefix(1100, 'a');
    const struct {
        const char* name;
        std::string before;
        std::string after;  // "@" stands for the new Home item
    } cases[] = {
        {"empty file", "", "\r\n@"},
        {"two lines without item", "a\nb\n", "a\r\nb\r\n\r\n@"},
        {"item on last line without break", "x\n(Home){old}", "x\r\n@"},
        {"item on first line", "(Home){old}\nline2\r\nline3\n", "@\r\nline2\r\nline3\r\n"},
        {"item inside other text", "pre (Home) post\n", "@\r\n"},
        {"every item line replaced", "(Home){1}\nmid\n(Home){2}\n", "@\r\nmid\r\n@\r\n"},
        {"name is case-sensitive", "(home){x}\n", "(home){x}\r\n\r\n@"},
        {"lone CR kept", "a\rb\n", "a\rb\r\n\r\n@"},
        {"item beyond the first piece", long_prefix + "(Home){x}\n",
         std::string(1023, 'a') + "@\r\n"},
    };
    for (const auto& c : cases) {
        WriteBytes(tunnel(), c.before);
        Prepare();
        EXPECT_EQ(ReadBytes(tunnel()), WithHomeItem(c.after)) << c.name;
        EXPECT_FALSE(fs::exists(temp())) << c.name;
    }
}

TEST_F(PrepareTunnelConfigTest, MissingConfigCreatesNothing) {
    Prepare();
    EXPECT_TRUE(fs::is_empty(dir_));
}

// A copy that misses any of tunnel.cfg's bytes must never replace it. (A
// failed write of temp.cfg: the end-to-end row FileSizeLimitStopsTheRewrite.)
TEST(HomeRewriteTest, ReportsEveryReadError) {
    const struct {
        const char* name;
        std::string bytes_before_error;
        std::string written;  // no Home item added after the error
    } cases[] = {
        {"read error at the start", "", ""},
        {"read error after a whole line", "(DevID){}\n", "(DevID){}\r\n"},
        {"read error inside a Home line", "(DevID){}\n(Home){x", "(DevID){}\r\n(Home){/h}"},
        {"read error inside a long line", std::string(3000, 'a'), std::string(3000, 'a')},
    };
    for (const auto& c : cases) {
        // Bytes of tunnel.cfg, then a read error.
        MemorySource source{c.bytes_before_error, c.bytes_before_error.size(), true};
        TextReader reader = MakeTextReader(ReadMemory, &source);
        HomeRewrite rewrite;
        StartHomeRewrite(rewrite, reader, "/h");
        std::array<char, 64> bytes;
        std::string written;
        for (std::size_t size = 0; (size = NextRewrittenBytes(rewrite, bytes)) > 0;) {
            written.append(bytes.data(), size);
        }
        EXPECT_EQ(written, c.written) << c.name;
        EXPECT_TRUE(reader.failed) << c.name;
        EXPECT_EQ(reader.error, EIO) << c.name;
    }
}

TEST(SubstituteDeviceIdTest, WritesTheIdentifierIntoTheFirstDevIdItem) {
    const std::string text_250 = "(DevID){}" + std::string(241, 'x');
    const struct {
        const char* name;
        std::string text;
        const char* device_id;
        std::string expected;
    } cases[] = {
        {"empty value", "(DevID){}(Home){h}", "abc", "(DevID){abc}(Home){h}"},
        {"longer value shrinks", "(DevID){longvalue}rest", "ab", "(DevID){ab}rest"},
        {"same length in place", "(DevID){xyz}rest", "abc", "(DevID){abc}rest"},
        {"text before kept", "(A){1}(DevID){}", "id", "(A){1}(DevID){id}"},
        {"no item", "(Home){h}", "abc", "(Home){h}"},
        {"name is case-sensitive", "(devid){}", "abc", "(devid){}"},
        {"no closing brace", "(DevID){abc", "id", "(DevID){abc"},
        {"second item untouched", "(DevID){a}(DevID){b}", "z", "(DevID){z}(DevID){b}"},
        {"first closing brace ends the value", "(DevID){a(B){c}", "z", "(DevID){z}"},
        {"exactly 255 characters fit", text_250, "12345", "(DevID){12345}" + std::string(241, 'x')},
        {"256 characters leave it unchanged", text_250, "123456", text_250},
        {"empty text", "", "abc", ""},
    };
    for (const auto& c : cases) {
        std::array<char, 256> buffer{};
        ASSERT_LT(c.text.size(), buffer.size());
        std::memcpy(buffer.data(), c.text.c_str(), c.text.size() + 1);
        SubstituteDeviceId(buffer, c.device_id);
        EXPECT_EQ(std::string(buffer.data()), c.expected) << c.name;
    }
}

TEST(SubstituteDeviceIdTest, UnterminatedTextIsLeftUnchanged) {
    std::array<char, 16> buffer;
    buffer.fill('x');
    std::memcpy(buffer.data(), "(DevID){}", 9);
    const auto before = buffer;
    SubstituteDeviceId(buffer, "id");
    EXPECT_EQ(buffer, before);
}

}  // namespace
