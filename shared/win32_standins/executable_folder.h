// The running program's folder, spelled so that every path built from it
// opens and a Home item naming it reads back as written. The program and the
// stand-in library, which finds its files beside the program, spell it alike.
#pragma once

#include <optional>
#include <span>
#include <string_view>

// What keeps a spelling of the folder from being safe, the worst first.
enum class FolderSpelling {
    kSafe,
    kEndsItem,        // holds '}' or a line break: an item naming it would end early
    kNotInCodePage,   // the ANSI code page cannot spell it: '?' stands for some characters
    kHoldsItemMarks,  // holds '(', ')' or '{', which an unknown parser may take as structure
};

// What is wrong with `path`, spelled exactly (`exact`) or not.
FolderSpelling CheckFolderSpelling(std::string_view path, bool exact);

// One spelling of the folder in the ANSI code page.
struct FolderName {
    std::string_view path;
    bool exact = true;  // converts back to the same characters
};

// Of the folder's full spelling and its short one (none where short names
// are off), the one to use: the full one when it is safe, else the short one
// when that is, else the full one with what is wrong with it.
struct FolderChoice {
    std::string_view path;
    FolderSpelling spelling = FolderSpelling::kSafe;
};
FolderChoice ChooseFolderSpelling(FolderName full, std::optional<FolderName> short_name);

// Writes the running program's folder into `folder`, NUL-terminated, as the
// rest of the run should spell it: on Windows, by its short name when the
// full one is not safe. Returns what is wrong with the spelling written when
// no safe one exists. On POSIX the folder has one spelling and '(', ')' and
// '{' are kept. An empty folder when the program's path cannot be had or
// does not fit.
FolderSpelling GetProgramFolder(std::span<char> folder);
