#include "AsciiFolding.h"

#include <cstddef>

#include "Utf8Decoder.h"

namespace tsl {
namespace {

constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kLastPrintable = 0x7E;

// One character per code point of a block: its plain letter, or '?' where
// there is none or where kSpelled below has the form.
struct Block {
    char16_t first;
    std::string_view letters;
};

// Latin-1 letters and Latin Extended-A (U+00C0 to U+017F).
constexpr std::string_view kLatin =
    "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??aaaaaa?ceeeeiiiidnooooo?ouuuuy?y"
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKkkLlLlLlL"
    "lLlNnNnNn?NnOoOoOo??RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
// Latin Extended Additional (U+1E00 to U+1EFF): Vietnamese, Welsh, and
// letters with dots and lines below.
constexpr std::string_view kLatinAdditional =
    "AaBbBbBbCcDdDdDdDdDdEeEeEeEeEeFfGgHhHhHhHhHhIiIiKkKkKkLlLlLlLlMm"
    "MmMmNnNnNnNnOoOoOoOoPpPpRrRrRrRrSsSsSsSsSsTtTtTtTtUuUuUuUuUuVvVv"
    "WwWwWwWwWwXxXxYyZzZzZzhtwy??????AaAaAaAaAaAaAaAaAaAaAaAaEeEeEeEe"
    "EeEeEeEeIiIiOoOoOoOoOoOoOoOoOoOoOoOoUuUuUuUuUuUuUuYyYyYyYy??????";
static_assert(kLatin.size() == 0x0180 - 0x00C0 && kLatinAdditional.size() == 0x1F00 - 0x1E00);
constexpr Block kBlocks[] = {{0x00C0, kLatin}, {0x1E00, kLatinAdditional}};

// Characters whose ASCII form is not a single plain letter of a block.
struct Spelled {
    char16_t character;
    std::string_view ascii;
};
constexpr Spelled kSpelled[] = {{0x00A0, " "},  {0x00AD, ""},   {0x00C6, "AE"}, {0x00DE, "TH"},
                                {0x00DF, "ss"}, {0x00E6, "ae"}, {0x00FE, "th"}, {0x0132, "IJ"},
                                {0x0133, "ij"}, {0x0149, "'n"}, {0x0152, "OE"}, {0x0153, "oe"},
                                {0x01A0, "O"},  {0x01A1, "o"},  {0x01AF, "U"},  {0x01B0, "u"},
                                {0x0218, "S"},  {0x0219, "s"},  {0x021A, "T"},  {0x021B, "t"},
                                {0x1E9E, "SS"}, {0x2010, "-"},  {0x2011, "-"},  {0x2012, "-"},
                                {0x2013, "-"},  {0x2014, "-"},  {0x2015, "-"},  {0x2018, "'"},
                                {0x2019, "'"},  {0x201A, "'"},  {0x201B, "'"},  {0x201C, "\""},
                                {0x201D, "\""}, {0x201E, "\""}, {0x201F, "\""}, {0x2026, "..."}};

// Combining diacritical marks: the accent of the letter before them.
constexpr char16_t kFirstCombiningMark = 0x0300;
constexpr char16_t kLastCombiningMark = 0x036F;

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

void appendFolded(std::string& out, char16_t c) {
    if (c >= kFirstPrintable && c <= kLastPrintable) {
        out += static_cast<char>(c);
        return;
    }
    if (c >= kFirstCombiningMark && c <= kLastCombiningMark) {
        return;
    }
    for (const Spelled& s : kSpelled) {
        if (s.character == c) {
            out += s.ascii;
            return;
        }
    }
    for (const Block& block : kBlocks) {
        if (c >= block.first && static_cast<std::size_t>(c - block.first) < block.letters.size()) {
            out += block.letters[static_cast<std::size_t>(c - block.first)];
            return;
        }
    }
    out += AsciiFolding::kUnknown;
}

}  // namespace

std::string AsciiFolding::fold(std::string_view utf8) {
    if (isPrintableAscii(utf8)) {
        return std::string(utf8);
    }
    const std::u16string units = decodeUtf8ToUtf16(utf8);
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (isHighSurrogate(units[i])) {
            // Beyond the Basic Multilingual Plane nothing has an ASCII form;
            // the pair is one character.
            out += kUnknown;
            ++i;
            continue;
        }
        appendFolded(out, units[i]);
    }
    return out;
}

bool AsciiFolding::isPrintableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < static_cast<char>(kFirstPrintable) || c > static_cast<char>(kLastPrintable)) {
            return false;
        }
    }
    return true;
}

}  // namespace tsl
