// Reading the lines the programs print.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace demo {

// The whole number that makes up the rest of `line` after `prefix`, if that is what the line is:
// "-", digits, and nothing after them.
template <typename Number = int>
std::optional<Number> number_after(std::string_view line, std::string_view prefix)
{
    if (!line.starts_with(prefix) || line.size() == prefix.size())
        return std::nullopt;
    Number value = 0;
    const char* end = line.data() + line.size();
    auto [stop, error] = std::from_chars(line.data() + prefix.size(), end, value);
    if (error != std::errc{} || stop != end)
        return std::nullopt;
    return value;
}

}  // namespace demo
