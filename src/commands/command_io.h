// The steps every command repeats: prompt and read its fields, convert them,
// report the library's result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tunnel/tunnel_api.h"

// How a command ended. "quit" ends the command loop, and so does input that
// ends inside a command; a command abandoned while its fields were typed
// (Ctrl-C at the editor) made no library call.
enum class CommandOutcome { kCompleted, kFailed, kInputEnded, kAbandoned, kQuit };

template <std::size_t Capacity>
using TextField = std::array<char, Capacity>;

// Capacities of the typed numeric fields.
inline constexpr std::size_t kNumberFieldCapacity = 32;
inline constexpr std::size_t kIndexFieldCapacity = 64;

// The widest typed field, request data.
inline constexpr std::size_t kWidestField = kRequestCapacity;

// Whether a field is shown as it is typed at a terminal or a console. A
// secret is not, as ssh and sudo do; from a pipe nothing differs.
enum class Typed { kShown, kSecret };

// The fields commands ask for, by name: a handler takes each by its name
// (FieldsOf), never by where its row puts it.
enum class Field : unsigned char {
    kNone,
    kDomain,
    kComment,
    kPasscode,
    kPeerId,
    kType,
    kEncrypt,
    kListenAddr,
    kClientAddr,
    kRequestData,
    kIndex,
    kTestTimes,
};

// A field a command asks for: its name, the prompt's text, the field's
// capacity (terminator included) and whether it is a secret. The text is checked when
// compiled to hold no line break, so that it goes out as it stands (see
// ConsoleReadLine).
class Prompt {
public:
    constexpr Prompt() = default;
    consteval Prompt(Field field, const char* text, std::size_t capacity,
                     Typed typed = Typed::kShown)
        : field_(field), text_(text), capacity_(capacity), typed_(typed) {
        if (text_.find('\n') != std::string_view::npos) {
            throw "a prompt holds no line break";
        }
        if (capacity_ < 2 || capacity_ > kWidestField) {
            throw "a field holds one character at least, and no more than the widest";
        }
    }
    constexpr Field field() const { return field_; }
    std::string_view text() const { return text_; }
    std::size_t capacity() const { return capacity_; }
    bool secret() const { return typed_ == Typed::kSecret; }
    // The field's name as its prompt says it: the prompt without ": ".
    constexpr std::string_view name() const {
        return text_.ends_with(": ") ? text_.substr(0, text_.size() - 2) : text_;
    }

private:
    Field field_ = Field::kNone;
    std::string_view text_;
    std::size_t capacity_ = 0;
    Typed typed_ = Typed::kShown;
};

// The most fields a command asks for.
inline constexpr std::size_t kMostFields = 5;

using Prompts = std::array<Prompt, kMostFields>;

// One run of a command: its fields as typed, each NUL-terminated within its
// capacity and zero-filled past its text, and whether a library call failed.
// Only the fields the command asks for are filled: a command without fields
// costs no zero-filling of them.
class CommandRun {
public:
    std::array<std::array<char, kWidestField>, kMostFields> fields;
    // Set by the loop: a failure ends the session, so a command of many calls
    // stops at the first.
    bool stop_at_failure = false;
    bool failed = false;
    // Lines of input read for the fields, for the line number of a failure.
    std::size_t fields_read = 0;

private:
    template <Field...>
    friend class FieldsOf;
    int32_t number(std::size_t field) const;
};

// The fields a handler takes, named in the order its row asks for them. A
// handler that reads a field it does not name does not compile, nor a row
// whose fields are not those its handler names (command_table.h).
template <Field... kNames>
class FieldsOf {
public:
    static constexpr std::array<Field, sizeof...(kNames)> kNamed{kNames...};

    explicit FieldsOf(const CommandRun& run) : run_(run) {}

    template <Field kName>
    const char* text() const {
        return run_.fields[SlotOf<kName>()].data();
    }
    // The field as a signed 32-bit integer, by the decimal conversion.
    template <Field kName>
    int32_t number() const {
        return run_.number(SlotOf<kName>());
    }

private:
    template <Field kName>
    static consteval std::size_t SlotOf() {
        static_assert(((kName == kNames) || ...), "a handler reads only the fields it names");
        std::size_t slot = 0;
        while (slot < kNamed.size() && kNamed[slot] != kName) {
            ++slot;
        }
        return slot;
    }

    const CommandRun& run_;
};

// Shows each of `prompts` in turn and reads its field into `run`. A longer
// line keeps what fits, and standard error says so. kCompleted once all are
// read; otherwise why not, which abandons the rest.
CommandOutcome PromptFields(const Prompts& prompts, CommandRun& run);

// Shows `prompts` as the command list's usage text does: the field names,
// comma-separated. Returns the length written into `text`.
std::size_t WriteFieldNames(const Prompts& prompts, std::span<char> text);

// On a non-zero result prints "<failure>, Error: <result>\n" and marks the
// run failed. True on success.
bool Succeeded(CommandRun& run, ResultCode result, std::string_view failure);

// kFailed when the run failed, else kCompleted.
CommandOutcome OutcomeOf(const CommandRun& run);

// Prints `label`, the text of `field` up to its first NUL or its whole width,
// and a line break.
void PrintTextLine(std::string_view label, std::span<const char> field);

// Room for any 32-bit integer in decimal, sign included.
using DecimalText = std::array<char, 11>;

// `value` in decimal, written into `text`.
std::string_view ToDecimal(int32_t value, DecimalText& text);
std::string_view ToDecimal(uint32_t value, DecimalText& text);

// Prints `label`, `value` in decimal and a line break.
void PrintNumberLine(std::string_view label, uint32_t value);

// The text of a fixed-width field: up to its first NUL, never beyond its width.
std::string_view FieldText(std::span<const char> field);
