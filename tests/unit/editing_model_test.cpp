// The editing model, as a terminal drives it: keys in as the bytes a terminal
// sends (decoded by the VT decoder), and out the line, the cursor, how the
// line ended and what is drawn. One row a key or a fault.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "console/message_handoff.h"
#include "editor/editing_model.h"
#include "editor/vt_key_decoder.h"
#include "editor/vt_renderer.h"

namespace {

enum class Field { kCommand, kShown, kHidden };

// UTF-8 as a terminal in a UTF-8 locale takes it: East Asian wide characters
// and emoji take two cells, combining marks none.
TextCharacter Utf8Character(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t size = lead < 0xc0 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
    if (size > text.size()) {
        return {};
    }
    char32_t code = size == 1 ? lead : lead & (0x7f >> size);
    for (std::size_t at = 1; at < size; ++at) {
        code = code << 6 | (static_cast<unsigned char>(text[at]) & 0x3f);
    }
    const bool combining = code >= 0x300 && code <= 0x36f;
    const bool wide = (code >= 0x1100 && code <= 0x115f) || (code >= 0x2e80 && code <= 0xa4cf) ||
                      (code >= 0xac00 && code <= 0xd7a3) || (code >= 0xff00 && code <= 0xff60) ||
                      (code >= 0x1f300 && code <= 0x1faff);
    return {size, combining ? 0u : wide ? 2u : 1u};
}

constexpr TextFacts kUtf8{TextKind::kUtf8, Utf8Character};
constexpr TextFacts kAscii{TextKind::kAscii, nullptr};
constexpr TextFacts kCodePage{TextKind::kCodePage, nullptr};
// Latin-1: one byte, one cell.
constexpr TextFacts kLatin1{TextKind::kCodePage, [](std::string_view) { return TextCharacter{}; }};

constexpr std::string_view kNames[] = {"versionget", "statusget", "domainset", "connectadd",
                                       "connectquery"};

struct Script {
    const char* name;
    Field field;
    std::string_view keys;  // as a terminal sends them; a lone ESC at the end is Esc
    std::string_view line;
    std::size_t cursor;
    KeyOutcome outcome;
    std::string_view drawn;  // the prompt "> " and the line, or the search
    TextFacts text = kUtf8;
    int columns = 80;
    int cell = -1;  // the cursor's cell, where checked
};

const Script kScripts[] = {
    {"printable", Field::kCommand, "abc", "abc", 3, KeyOutcome::kGoOn, "> abc"},
    {"Left, Right", Field::kCommand, "abc\x1b[D\x1b[Dx\x1b[Cy", "axbyc", 4, KeyOutcome::kGoOn,
     "> axbyc"},
    {"Home, End", Field::kCommand, "abc\x1b[Hx\x1b[Fy", "xabcy", 5, KeyOutcome::kGoOn, "> xabcy"},
    {"Home, End: other spellings", Field::kCommand, "b\x1b[1~a\x1b[4~c\x1b[7~<\x1b[8~>\x1bOH(",
     "(<abc>", 1, KeyOutcome::kGoOn, "> (<abc>"},
    {"Ctrl-A, Ctrl-E", Field::kCommand, "bc\001a\005d", "abcd", 4, KeyOutcome::kGoOn, "> abcd"},
    {"Ctrl-Left, Alt-Left", Field::kCommand, "ab cd\x1b[1;5Dx\x1b[1;3Dy", "ab yxcd", 4,
     KeyOutcome::kGoOn, "> ab yxcd"},
    {"Ctrl-Right, Alt-f, rxvt", Field::kCommand, "ab cd ef\x01\x1b[1;5Cx\033fy\x1bOdz",
     "abx zcdy ef", 5, KeyOutcome::kGoOn, "> abx zcdy ef"},
    {"Backspace, Ctrl-H", Field::kCommand, "abcd\x7f\x08", "ab", 2, KeyOutcome::kGoOn, "> ab"},
    {"Delete", Field::kCommand, "abc\x01\x1b[3~", "bc", 0, KeyOutcome::kGoOn, "> bc"},
    {"Ctrl-D within a line deletes", Field::kCommand, "abc\x02\x04\x04", "ab", 2, KeyOutcome::kGoOn,
     "> ab"},
    {"Ctrl-K", Field::kCommand, "abcd\x02\x02\x0b", "ab", 2, KeyOutcome::kGoOn, "> ab"},
    {"Ctrl-U", Field::kCommand, "abcd\x02\x15", "d", 0, KeyOutcome::kGoOn, "> d"},
    {"Ctrl-W", Field::kCommand, "ab cd  \x17", "ab ", 3, KeyOutcome::kGoOn, "> ab "},
    {"Esc clears", Field::kCommand, "abc\x1b", "", 0, KeyOutcome::kGoOn, "> "},
    {"Up, Down", Field::kCommand, "x\x1b[A\x1b[A\x1b[A\x1b[B", "statusget", 9, KeyOutcome::kGoOn,
     "> statusget"},
    {"Up and Down in application mode", Field::kCommand, "\x1bOA\x1bOA\x1bOB", "domainset", 9,
     KeyOutcome::kGoOn, "> domainset"},
    {"Up at a field recalls nothing", Field::kShown, "x\x1b[A", "x", 1, KeyOutcome::kGoOn, "> x"},
    {"Ctrl-R", Field::kCommand, "\x12sta", "statusget", 0, KeyOutcome::kGoOn,
     "(reverse-i-search)`sta': statusget"},
    {"Ctrl-R again goes further back", Field::kCommand, "\022e\x12\x12", "versionget", 8,
     KeyOutcome::kGoOn, "(reverse-i-search)`e': versionget"},
    {"Ctrl-R, Enter", Field::kCommand, "\x12ver\r", "versionget", 0, KeyOutcome::kDone,
     "> versionget"},
    {"Ctrl-R, then a key edits", Field::kCommand, "\x12sta\x05x", "statusgetx", 10,
     KeyOutcome::kGoOn, "> statusgetx"},
    {"Ctrl-R finding nothing", Field::kCommand, "\x12zz", "", 0, KeyOutcome::kGoOn,
     "(failed reverse-i-search)`zz': "},
    {"Ctrl-G leaves the search", Field::kCommand, "ab\x12sta\x07", "ab", 2, KeyOutcome::kGoOn,
     "> ab"},
    {"Tab: one name", Field::kCommand, "versi\t", "versionget", 10, KeyOutcome::kGoOn,
     "> versionget"},
    {"Tab: several names", Field::kCommand, "conn\t", "connect", 7, KeyOutcome::kListNames,
     "> connect"},
    {"Tab at a field is typed", Field::kShown, "a\tb", "a\tb", 3, KeyOutcome::kGoOn, "> a^Ib"},
    {"Enter", Field::kCommand, "ab\rcd", "ab", 2, KeyOutcome::kDone, "> ab"},
    {"Ctrl-D on an empty line", Field::kCommand, "\x04", "", 0, KeyOutcome::kEnded, "> "},
    {"Ctrl-C", Field::kCommand, "abc\x03", "abc", 3, KeyOutcome::kAbandoned, "> abc"},
    {"Ctrl-C at a hidden field", Field::kHidden, "abc\x03", "abc", 3, KeyOutcome::kAbandoned, "> "},
    {"keys without a binding do nothing", Field::kCommand,
     "a\x1b[2~\x1b[5~\x1b[6~\x1b[15~\x1b[24~\x1b[1;2P\x1b[Zb\x1bxc\x00\x1c", "abc", 3,
     KeyOutcome::kGoOn, "> abc"},
    {"hidden: nothing drawn, the same keys", Field::kHidden, "s3cr\x1b[Dx\177e\tt\r", "s3ce\ttr", 6,
     KeyOutcome::kDone, "> "},
    {"hidden: Ctrl-H, Ctrl-U", Field::kHidden, "abc\x08\x15xy\x08z", "xz", 2, KeyOutcome::kGoOn,
     "> "},
    {"hidden: Ctrl-D after characters", Field::kHidden, "ab\004c\r", "abc", 3, KeyOutcome::kDone,
     "> "},
    {"fault 3: F1 to F5 of the Linux console", Field::kHidden, "pw\x1b[[Ax\x1b[[E", "pwx", 3,
     KeyOutcome::kGoOn, "> "},
    {"ESC O keys leave no letter", Field::kHidden, "a\x1bOPb\x1bOSc\x1bOF", "abc", 3,
     KeyOutcome::kGoOn, "> "},
    {"fault 1: the C locale keeps bytes", Field::kShown, "p\xc3\xa9\xe2\x82\xac",
     "p\xc3\xa9\xe2\x82\xac", 6, KeyOutcome::kGoOn, "> p?????", kAscii},
    {"UTF-8: Left and Backspace take a character", Field::kShown,
     "p\xc3\xa9\xe2\x82\xac\x1b[D\x7fx", "px\xe2\x82\xac", 2, KeyOutcome::kGoOn,
     "> px\xe2\x82\xac"},
    {"fault 5: no DEL byte enters the line", Field::kShown, "ab\x7f\x7f\x7f", "", 0,
     KeyOutcome::kGoOn, "> "},
    // Characters of several bytes and cells: the cursor moves by whole
    // characters and is drawn in the cell it stands before.
    {"wide: End, Left", Field::kShown, "漢字ab\x1b[F\x1b[D", "漢字ab", 7, KeyOutcome::kGoOn,
     "> 漢字ab", kUtf8, 80, 7},
    {"wide: Left, then a key", Field::kShown, "漢字\x1b[Dx", "漢x字", 4, KeyOutcome::kGoOn,
     "> 漢x字", kUtf8, 80, 5},
    {"wide: Backspace", Field::kShown, "漢字\x7f", "漢", 3, KeyOutcome::kGoOn, "> 漢", kUtf8, 80,
     4},
    {"emoji: Delete", Field::kShown, "a😀b\x1b[D\x1b[D\x1b[3~", "ab", 1, KeyOutcome::kGoOn, "> ab",
     kUtf8, 80, 3},
    {"combining mark: Left takes it with its letter", Field::kShown, "e\xcc\x81\x1b[Dy",
     "ye\xcc\x81", 1, KeyOutcome::kGoOn, "> ye\xcc\x81", kUtf8, 80, 3},
    {"combining mark: no cell of its own", Field::kShown, "e\xcc\x81x", "e\xcc\x81x", 4,
     KeyOutcome::kGoOn, "> e\xcc\x81x", kUtf8, 80, 4},
    {"Hangul: Ctrl-Left, Ctrl-W", Field::kShown, "가 나다\x1b[1;5D\x17", "나다", 0,
     KeyOutcome::kGoOn, "> 나다", kUtf8, 80, 2},
    {"Backspace over a character at the line's start", Field::kShown, "é\x1b[D\x1b[C\x7f", "", 0,
     KeyOutcome::kGoOn, "> ", kUtf8, 80, 2},
    {"Ctrl-R finds a CJK line", Field::kCommand, "\x12字テ", "漢字テスト", 3, KeyOutcome::kGoOn,
     "(reverse-i-search)`字テ': 漢字テスト", kUtf8, 80, 28},
    {"Ctrl-R: Backspace takes a whole character", Field::kCommand, "\x12字テ\x7f", "漢字テスト", 3,
     KeyOutcome::kGoOn, "(reverse-i-search)`字': 漢字テスト", kUtf8, 80, 26},
    // A wide character that does not fit in a row's last cell starts the
    // next row, as the terminal draws it.
    {"wrap at 3 columns", Field::kShown, "漢字", "漢字", 6, KeyOutcome::kGoOn, "> 漢字", kUtf8, 3,
     8},
    {"wrap at 5 columns", Field::kShown, "漢字", "漢字", 6, KeyOutcome::kGoOn, "> 漢字", kUtf8, 5,
     7},
    {"wrap at 7 columns", Field::kShown, "ab漢字", "ab漢字", 8, KeyOutcome::kGoOn, "> ab漢字",
     kUtf8, 7, 9},
    // Alt, or an escape sequence, with a character: the character whole.
    {"Alt with a character of two bytes", Field::kShown,
     "a\x1b\xc3\xa9"
     "b",
     "a\xc3\xa9"
     "b",
     4, KeyOutcome::kGoOn,
     "> a\xc3\xa9"
     "b"},
    {"ESC [ then a character", Field::kShown,
     "a\x1b[\xc3\xa9"
     "b\x1bO\xe2\x82\xac",
     "a\xc3\xa9"
     "b\xe2\x82\xac",
     7, KeyOutcome::kGoOn,
     "> a\xc3\xa9"
     "b\xe2\x82\xac"},
    {"a character broken off is dropped", Field::kShown,
     "a\xe6\xbc"
     "b\xa9",
     "ab", 2, KeyOutcome::kGoOn, "> ab"},
    {"Ctrl-L", Field::kShown, "ab\x0c", "ab", 2, KeyOutcome::kRedrawAtTop, "> ab"},
    // Only well-formed UTF-8: a surrogate, an overlong form, above U+10FFFF
    // and a sequence cut short are not taken.
    {"ill-formed UTF-8 is not taken", Field::kShown,
     "a\xed\xa0\x80"
     "b\xe0\x80\xaf"
     "c\xf4\x90\x80\x80"
     "d\xf0\x9f\x98"
     "e",
     "abcde", 5, KeyOutcome::kGoOn, "> abcde"},
    {"C1 controls drawn visibly", Field::kShown, "a\xc2\x9b\xc2\x85", "a\xc2\x9b\xc2\x85", 5,
     KeyOutcome::kGoOn, "> aM-^[M-^E", kUtf8, 80, 11},
    // A grapheme cluster is one unit for the cursor, Backspace and Delete.
    {"a ZWJ sequence under Left", Field::kShown, "a👨‍👩‍👧b\x1b[D\x1b[Dx",
     "ax👨‍👩‍👧b", 2, KeyOutcome::kGoOn, "> ax👨‍👩‍👧b", kUtf8, 80, 4},
    {"a flag under Backspace", Field::kShown, "a🇫🇷\x7f", "a", 1, KeyOutcome::kGoOn, "> a"},
    {"a ZWJ sequence under Delete", Field::kShown, "a👩‍💻b\x01\x1b[C\x1b[3~", "ab", 1,
     KeyOutcome::kGoOn, "> ab"},
    {"a Tab at a field is no mark", Field::kShown, "a\t\x7f", "a", 1, KeyOutcome::kGoOn, "> a"},
    {"the C locale: a byte stands alone", Field::kShown, "e\xcc\x81\x7f", "e\xcc", 2,
     KeyOutcome::kGoOn, "> e?", kAscii},
    {"a code page: a byte is a letter", Field::kShown, "caf\xe9", "caf\xe9", 4, KeyOutcome::kGoOn,
     "> caf\xe9", kLatin1, 80, 6},
};

TEST(LineModelTest, KeyScripts) {
    static CommandHistory history;
    history = {};
    for (const std::string_view entry : {"漢字テスト", "versionget", "statusget", "domainset"}) {
        HistoryAdd(history, entry);
    }
    for (const Script& row : kScripts) {
        SCOPED_TRACE(row.name);
        static LineModel model;
        const bool command = row.field == Field::kCommand;
        ModelStart(model, command ? &history : nullptr,
                   command ? std::span<const std::string_view>(kNames)
                           : std::span<const std::string_view>(),
                   row.field == Field::kHidden, row.text);
        VtDecoder decoder;
        decoder.utf8 = row.text.kind == TextKind::kUtf8;
        KeyOutcome outcome = KeyOutcome::kGoOn;
        Key key;
        for (const char byte : row.keys) {
            if (VtDecode(decoder, byte, key)) {
                outcome = ModelKey(model, key);
                if (outcome != KeyOutcome::kGoOn) {
                    break;
                }
            }
        }
        if (outcome == KeyOutcome::kGoOn && VtEscapeAlone(decoder, key)) {
            outcome = ModelKey(model, key);
        }
        EXPECT_EQ(LineText(model.line), row.line);
        EXPECT_EQ(model.line.cursor, row.cursor);
        EXPECT_EQ(outcome, row.outcome);
        static LineView view;
        ModelView(model, "> ", row.columns, view);
        EXPECT_EQ(view.Text(), row.drawn);
        if (row.cell >= 0) {
            EXPECT_EQ(view.cursor, static_cast<std::size_t>(row.cell));
        }
    }
}

// fault 7: the longest line is the same everywhere, wider than any field, so
// that a field typed longer is cut with a note rather than stopped short.
TEST(LineModelTest, ALineTakesMoreThanAnyField) {
    static LineModel model;
    ModelStart(model, nullptr, {}, true, kCodePage);
    for (int typed = 0; typed < 300; ++typed) {
        ModelKey(model, CharacterKey("x"));
    }
    EXPECT_EQ(model.line.length, 300u);
}

// The table kept key by key is the one found from the whole line, and so is
// the view drawn from it: typing, moving and erasing over wide, combining,
// joined and ill-formed text.
TEST(LineModelTest, TheClusterTableKeptIsTheOneFoundAgain) {
    static LineModel model;
    static LineModel whole;
    static LineView kept;
    static LineView drawn;
    const Key keys[] = {CharacterKey("a"),
                        CharacterKey("漢"),
                        CharacterKey("\xcc\x81"),
                        CharacterKey("👩"),
                        CharacterKey("\xe2\x80\x8d"),
                        CharacterKey("💻"),
                        CharacterKey("🇫"),
                        CharacterKey("\xef\xb8\x8f"),
                        CharacterKey("\xa9"),
                        CharacterKey("\t"),
                        NamedKey(KeyName::kLeft),
                        NamedKey(KeyName::kRight),
                        NamedKey(KeyName::kBackspace),
                        NamedKey(KeyName::kDelete),
                        NamedKey(KeyName::kLeft),
                        NamedKey(KeyName::kHome)};
    ModelStart(model, nullptr, {}, false, kUtf8);
    unsigned seed = 7;
    for (int typed = 0; typed < 3000; ++typed) {
        seed = seed * 1103515245 + 12345;
        ModelKey(model, keys[(seed >> 16) % std::size(keys)]);
        whole = model;
        ModelFindClusters(whole);
        ASSERT_EQ(model.clusters.count, whole.clusters.count) << typed;
        ASSERT_EQ(model.clusters.cursor, whole.clusters.cursor) << typed;
        ASSERT_EQ(model.clusters.guessed, whole.clusters.guessed) << typed;
        for (std::size_t at = 0; at < model.clusters.count; ++at) {
            ASSERT_EQ(model.clusters.list[at].bytes, whole.clusters.list[at].bytes) << typed;
            ASSERT_EQ(model.clusters.list[at].cells, whole.clusters.list[at].cells) << typed;
        }
        ModelView(model, "> ", 30, kept);
        ModelView(whole, "> ", 30, drawn);
        ASSERT_EQ(kept.Text(), drawn.Text()) << typed;
        ASSERT_EQ(kept.cursor, drawn.cursor) << typed;
    }
}

// The cut keeps whole clusters: a letter with its marks, jamo that join, an
// emoji with its joiner.
TEST(LineModelTest, TheCutKeepsWholeClusters) {
    const struct {
        std::string_view text;
        std::size_t room;
        std::size_t bytes;
        std::size_t characters;
    } rows[] = {{"ae\xcc\x81", 2, 1, 1},
                {"a\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab", 7, 1, 1},
                {"a👩‍💻", 8, 1, 1},
                {"a👩‍💻b", 12, 12, 2}};
    for (const auto& row : rows) {
        const TextPrefix kept = WholeCharactersOf(kUtf8, row.text, row.room);
        EXPECT_EQ(kept.bytes, row.bytes) << row.text;
        EXPECT_EQ(kept.characters, row.characters) << row.text;
    }
}

// A line at a terminal `columns` wide, drawn by the VT renderer.
struct RendererTest : ::testing::Test {
    static inline LineModel model;
    static inline VtScreen screen;
    static inline LineView view;
    std::array<char, 4096> out;

    void Start(int columns) {
        ModelStart(model, nullptr, {}, false, kUtf8);
        screen = {};
        screen.columns = columns;
    }
    std::string draw() {
        ModelView(model, "> ", screen.columns, view);
        return std::string(out.data(), VtDraw(screen, view, out));
    }
};

// The renderer: a line wider than the window wraps, and is drawn again, taken
// off and ended from the row the cursor is on; a new width is taken up.
TEST_F(RendererTest, WrapsAndGoesBackToTheLinesStart) {
    Start(10);
    EXPECT_EQ(draw(), "> ");
    ModelKey(model, CharacterKey("a"));
    EXPECT_EQ(draw(), "a");  // typed at the end: only the key goes out
    for (const char typed : std::string_view("bcdefgh")) {
        ModelKey(model, CharacterKey(std::string_view(&typed, 1)));
    }
    // The row is full: the cursor goes to the next one.
    EXPECT_EQ(draw(), "\r> abcdefgh\r\n\x1b[J");
    ModelKey(model, NamedKey(KeyName::kHome));
    EXPECT_EQ(draw(), "\r\x1b[1A> abcdefgh\r\n\x1b[J\x1b[1A\r\x1b[2C");
    EXPECT_EQ(std::string(out.data(), VtEnd(screen, out)), "\x1b[1B\r");
    EXPECT_EQ(draw(), "> abcdefgh\r\n\x1b[1A\r\x1b[2C");
    VtResize(screen, 4);
    EXPECT_EQ(screen.cursor_row, 0u);
    ModelKey(model, NamedKey(KeyName::kEnd));
    EXPECT_EQ(draw(), "\r> abcdefgh\x1b[J");
    EXPECT_EQ(std::string(out.data(), VtErase(screen, out)), "\r\x1b[2A\x1b[J");
}

// A key that fills a row to its last cell moves the cursor to the next row,
// so that the next drawing goes back up as many rows as there are.
TEST_F(RendererTest, ARowFilledKeyByKeyPutsTheCursorBelow) {
    Start(5);
    draw();
    for (const char* typed : {"a", "b"}) {
        ModelKey(model, CharacterKey(typed));
        draw();
    }
    ModelKey(model, CharacterKey("c"));
    EXPECT_EQ(draw(), "\r> abc\r\n\x1b[J");
    ModelKey(model, NamedKey(KeyName::kHome));
    EXPECT_EQ(draw(), "\r\x1b[1A> abc\r\n\x1b[J\x1b[1A\r\x1b[2C");
}

// Emoji joined into a cluster take the cells of a terminal that does not
// join them; each row ends where the line's cells say, and the cursor is put
// back by drawing its row again, so a terminal that joins them never has its
// rows differ from the editor's.
TEST_F(RendererTest, RowsOfJoinedEmojiEndWhereTheLineSays) {
    Start(10);
    draw();
    for (int typed = 0; typed < 3; ++typed) {
        for (const char* key : {"👩", "\xe2\x80\x8d", "💻"}) {
            ModelKey(model, CharacterKey(key));
        }
    }
    EXPECT_EQ(draw(), "\r> 👩‍💻👩‍💻\r\n👩‍💻\x1b[J");
    ModelKey(model, NamedKey(KeyName::kLeft));
    EXPECT_EQ(draw(), "\r\x1b[1A> 👩‍💻👩‍💻\r\n👩‍💻\x1b[J\r");
    ModelKey(model, NamedKey(KeyName::kLeft));
    EXPECT_EQ(draw(),
              "\r\x1b[1A> 👩‍💻👩‍💻\r\n👩‍💻\x1b[J\x1b[1A\r> 👩‍💻");
}

// A wrapped line of wide characters, five columns wide: its rows are where
// the terminal puts them, so going back to the line's start, taking it off
// for a message and drawing it again leave no copy of a row behind.
TEST_F(RendererTest, KeepsAWrappedLineOfWideCharactersInItsRows) {
    Start(5);
    EXPECT_EQ(draw(), "> ");
    ModelKey(model, CharacterKey("漢"));
    EXPECT_EQ(draw(), "漢");
    // 字 does not fit in the row's last cell: it starts the next row.
    ModelKey(model, CharacterKey("字"));
    EXPECT_EQ(draw(), "\r> 漢字\x1b[J");
    EXPECT_EQ(screen.cursor_row, 1u);
    ModelKey(model, NamedKey(KeyName::kLeft));
    EXPECT_EQ(draw(), "\r\x1b[1A> 漢字\x1b[J\x1b[1A\r\x1b[4C");
    EXPECT_EQ(screen.cursor_row, 0u);
    ModelKey(model, NamedKey(KeyName::kEnd));
    EXPECT_EQ(draw(), "\r> 漢字\x1b[J");
    // Hidden for a message, then shown again below it.
    EXPECT_EQ(std::string(out.data(), VtErase(screen, out)), "\r\x1b[1A\x1b[J");
    EXPECT_EQ(draw(), "> 漢字");
}

// Messages from another thread while a line is edited reach the drawing
// thread whole, in order, each ending its line, none lost; one longer than
// the hand-off comes in parts.
TEST(MessageHandoffTest, NothingIsLostReorderedOrTorn) {
    static OutputLock lock;
    static bool editing = true;
    std::string expected;
    std::vector<std::string> messages;
    for (int i = 0; i < 3000; ++i) {
        messages.push_back(i == 1500 ? std::string(40000, 'x') : "message " + std::to_string(i));
        expected += messages.back() + "\n";
    }
    static std::condition_variable_any woken;
    static bool done = false;
    std::thread library([&] {
        for (const std::string& message : messages) {
            std::unique_lock held(lock);
            std::string_view text = message;
            EXPECT_TRUE(HandOffMessage(
                held, text, [] { return editing; }, [] { woken.notify_one(); }));
        }
        const std::lock_guard held(lock);
        done = true;
        woken.notify_one();
    });
    std::string drawn;
    for (bool last = false; !last;) {
        std::unique_lock held(lock);
        woken.wait(held, [] { return done || !HandedOffBytes().empty(); });
        last = done;
        drawn += HandedOffBytes();
        HandedOffWritten();
    }
    library.join();
    EXPECT_EQ(drawn, expected);
}

// The output lock keeps out a second thread, waiting while it is taken.
TEST(MessageHandoffTest, OutputLockExcludesAndWaits) {
    static OutputLock lock;
    static long count = 0;
    static std::atomic<int> started = 0;
    const auto add = [] {
        for (started.fetch_add(1); started.load() < 2;) {
        }
        for (int i = 0; i < 1000000; ++i) {
            const std::lock_guard held(lock);
            count = count + 1;
        }
    };
    std::thread other(add);
    add();
    other.join();
    EXPECT_EQ(count, 2000000);
}

// Messages handed off while a line is edited go out in one batch, with one
// wake of the reader for the batch.
TEST(MessageHandoffTest, MessagesWaitingGoAsOneBatchWithOneWake) {
    static int wakes = 0;
    OutputLock lock_itself;
    std::unique_lock lock(lock_itself);
    const auto is_editing = [] { return true; };
    const auto wake = [] { ++wakes; };
    for (std::string_view text : {"one\n", "two", "three\n"}) {
        ASSERT_TRUE(HandOffMessage(lock, text, is_editing, wake));
    }
    EXPECT_EQ(HandedOffBytes(), "one\ntwo\nthree\n");
    EXPECT_EQ(wakes, 1);
    HandedOffWritten();
    std::string_view four = "four\n";
    ASSERT_TRUE(HandOffMessage(lock, four, is_editing, wake));
    EXPECT_EQ(wakes, 2);
    HandedOffWritten();
}

}  // namespace
