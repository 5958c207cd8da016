// Comma text writer and parser (see comma_text.h).
#include "mill/comma_text.h"

namespace qm {
namespace {

// Bytes 1..32 separate items when parsing; a zero byte is data, because texts carry their length.
bool IsBlank(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 1 && b <= ' ';
}

bool NeedsQuotes(std::string_view item) {
    for (char c : item) {
        if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
    }
    return false;
}

}  // namespace

std::string CommaTextOf(const std::vector<std::string>& items) {
    // A lone empty item would otherwise vanish into the empty text, which parses as an empty list.
    if (items.size() == 1 && items[0].empty()) return "\"\"";
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text.push_back(',');
        const std::string& item = items[i];
        if (!NeedsQuotes(item)) {
            text.append(item);
            continue;
        }
        text.push_back('"');
        for (char c : item) {
            if (c == '"') text.push_back('"');
            text.push_back(c);
        }
        text.push_back('"');
    }
    return text;
}

std::vector<std::string> ParseCommaText(std::string_view text) {
    std::vector<std::string> items;
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && IsBlank(text[p])) ++p;
    while (p < n) {
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item.push_back('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item.push_back(text[p++]);
            }
        } else {
            const size_t start = p;
            // A zero byte is not a separator: it stays inside the item, so the scan always advances.
            while (p < n && !IsBlank(text[p]) && text[p] != ',') ++p;
            item.assign(text.substr(start, p - start));
        }
        items.push_back(std::move(item));
        while (p < n && IsBlank(text[p])) ++p;
        if (p < n && text[p] == ',') {
            if (p + 1 == n) items.emplace_back();
            ++p;
            while (p < n && IsBlank(text[p])) ++p;
        }
    }
    return items;
}

}  // namespace qm
