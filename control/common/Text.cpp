#include "Text.h"

#include <cwctype>
#include <locale.h>

namespace calmora {
namespace {

// C.UTF-8 knows the case mappings of every Unicode letter, whatever the process locale is.
locale_t Utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when the bytes are not valid UTF-8.
std::size_t Decode(std::string_view s, std::size_t i, char32_t& cp) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c >> 6) != 2) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return n;
}

void Encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

template <typename Map>
std::string MapLetters(std::string_view s, Map map) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {  // the common case, without the locale
            out += static_cast<char>(map(static_cast<char32_t>(b)));
            ++i;
            continue;
        }
        char32_t cp = 0;
        std::size_t n = Decode(s, i, cp);
        if (n == 0) {
            out += s[i++];
            continue;
        }
        Encode(map(cp), out);
        i += n;
    }
    return out;
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
    return MapLetters(utf8, [](char32_t c) -> char32_t {
        if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
        return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), Utf8Locale()));
    });
}

std::string ToUpper(std::string_view utf8) {
    return MapLetters(utf8, [](char32_t c) -> char32_t {
        if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
        return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), Utf8Locale()));
    });
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && a == b) return true;
    return FoldCase(a) == FoldCase(b);
}

}  // namespace calmora
