// Small shared pieces of JSON text handling for the Python surface.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <rapidjson/error/error.h>

namespace tavrel::python {

// The reader's description of a syntax error, ending with its line and column (both from 1).
std::string json_syntax_error(std::string_view text, rapidjson::ParseErrorCode code,
                              std::size_t offset);

}  // namespace tavrel::python
