#include "win32_standins/executable_folder.h"

FolderSpelling CheckFolderSpelling(std::string_view path, bool exact) {
    if (path.find_first_of("}\r\n") != std::string_view::npos) {
        return FolderSpelling::kEndsItem;
    }
    if (!exact) {
        return FolderSpelling::kNotInCodePage;
    }
    if (path.find_first_of("(){") != std::string_view::npos) {
        return FolderSpelling::kHoldsItemMarks;
    }
    return FolderSpelling::kSafe;
}

FolderChoice ChooseFolderSpelling(FolderName full, std::optional<FolderName> short_name) {
    const FolderSpelling full_spelling = CheckFolderSpelling(full.path, full.exact);
    if (full_spelling != FolderSpelling::kSafe && short_name &&
        CheckFolderSpelling(short_name->path, short_name->exact) == FolderSpelling::kSafe) {
        return {short_name->path, FolderSpelling::kSafe};
    }
    return {full.path, full_spelling};
}
