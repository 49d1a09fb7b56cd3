#include "screen.hpp"

namespace tour {

std::string grouped(long long n)
{
    unsigned long long magnitude =
        n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    std::string digits = std::to_string(magnitude);
    std::string text = n < 0 ? "-" : "";
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            text += ',';
        text += digits[k];
    }
    return text;
}

Screen& screen()
{
    static Screen shared;
    return shared;
}

void say(const std::string& text)
{
    screen().say(text);
}

void act(const std::string& text)
{
    screen().say("[tour] " + text);
}

}  // namespace tour
