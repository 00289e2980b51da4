#include "platform/text.h"

#include <glib.h>

Utf8Step DecodeUtf8(std::string_view text) {
    if (text.empty()) return {};
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return {lead, 1};

    std::size_t length;
    char32_t codePoint;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return {};
    }
    if (text.size() < length) return {};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return {};
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return {};
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return {};
    return {codePoint, length};
}

namespace {

// One code point, or one malformed byte, and the UTF-16 units it stands for.
struct Piece {
    std::size_t bytes;
    std::size_t units;
};

Piece NextPiece(std::string_view text) {
    const Utf8Step step = DecodeUtf8(text);
    if (step.length == 0) return {1, 1};
    return {step.length, step.codePoint >= 0x10000 ? 2u : 1u};
}

}  // namespace

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    while (!text.empty()) {
        const Piece piece = NextPiece(text);
        units += piece.units;
        text.remove_prefix(piece.bytes);
    }
    return units;
}

std::string CutToUtf16Units(std::string_view text, std::size_t maxUnits) {
    std::size_t bytes = 0;
    std::size_t units = 0;
    while (bytes < text.size()) {
        const Piece piece = NextPiece(text.substr(bytes));
        if (units + piece.units > maxUnits) break;
        units += piece.units;
        bytes += piece.bytes;
    }
    return std::string(text.substr(0, bytes));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    while (!a.empty() && !b.empty()) {
        const Utf8Step stepA = DecodeUtf8(a);
        const Utf8Step stepB = DecodeUtf8(b);
        if ((stepA.length == 0) != (stepB.length == 0)) return false;
        if (stepA.length == 0) {
            if (a[0] != b[0]) return false;
            a.remove_prefix(1);
            b.remove_prefix(1);
            continue;
        }
        if (g_unichar_toupper(stepA.codePoint) != g_unichar_toupper(stepB.codePoint)) return false;
        a.remove_prefix(stepA.length);
        b.remove_prefix(stepB.length);
    }
    return a.empty() && b.empty();
}
