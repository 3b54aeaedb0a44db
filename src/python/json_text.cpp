#include "python/json_text.hpp"

#include <rapidjson/error/en.h>

namespace tavrel::python {

std::string json_syntax_error(std::string_view text, rapidjson::ParseErrorCode code,
                              std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    std::string message = rapidjson::GetParseError_En(code);
    if (!message.empty() && message.back() == '.') message.pop_back();
    return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace tavrel::python
