// Must not compile: a row that asks for a field its handler does not name.
#include "commands/command_table.h"

constexpr Prompt kComment(Field::kComment, "comment: ", 8);
constexpr Command kRow{"commentset", true, {kComment}, BoundHandler{nullptr, {Field::kDomain}}};
