#include "discovery/NaturalOrder.h"

#include <cctype>
#include <string_view>

bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])))
            --digits;
        return digits;
    };
    const std::size_t sa = split(a);
    const std::size_t sb = split(b);
    const int prefix = a.compare(0, sa, b, 0, sb);
    if (prefix != 0)
        return prefix < 0;
    const std::string_view na = std::string_view(a).substr(sa);
    const std::string_view nb = std::string_view(b).substr(sb);
    const auto trim = [](std::string_view n) {
        while (n.size() > 1 && n.front() == '0')
            n.remove_prefix(1);
        return n;
    };
    const std::string_view ta = trim(na);
    const std::string_view tb = trim(nb);
    if (ta.size() != tb.size())
        return ta.size() < tb.size();
    if (ta != tb)
        return ta < tb;
    return a < b;
}
