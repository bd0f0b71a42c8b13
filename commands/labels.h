// Labels of the fields and values the rows' schemas name, in English and
// Serbian, for the API document and what is built from it.
#pragma once

#include <string_view>

#include "catalogue.h"

namespace zuvcmd {

// The label of an argument, result or counter field by its name, and of an
// enum value: nullptr when it has none.
const Labels* FieldLabel(std::string_view name);
const Labels* ValueLabel(std::string_view value);

}  // namespace zuvcmd
