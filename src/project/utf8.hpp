// UTF-8 validation of entry contents, describing the first ill-formed sequence for the user.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrel::project {

// None when `text` is well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF); otherwise a description of the first ill-formed sequence: its octets in hex (the
// longest prefix of a sequence that could still have become valid) and its byte offset.
std::optional<std::string> describe_invalid_utf8(std::string_view text);

}  // namespace tavrel::project
