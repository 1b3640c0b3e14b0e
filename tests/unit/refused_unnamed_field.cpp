// Must not compile: a handler that reads a field it does not name.
#include "commands/command_io.h"

const char* ReadsAnUnnamedField(FieldsOf<Field::kDomain> fields) {
    return fields.text<Field::kComment>();
}
