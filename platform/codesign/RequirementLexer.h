// The requirement language's tokens: the lexer that splits requirement text into them, and the
// readers of the literals (dates, OIDs) whose values the grammar needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin::requirement_text {

enum class Tok {
    End,
    Word,     // letters, digits and dots, starting with a letter
    String,   // "quoted", text holds the unescaped bytes
    Hex,      // 0x..., text holds the bytes
    Hash,     // H"...", text holds the bytes
    Integer,  // digits
    Date,     // <2024-05-01 00:00:00 +0000> or <seconds>, text holds what is inside
    Arrow,
    Semi,
    LParen,
    RParen,
    LBrack,
    RBrack,
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    Equal,
    Tilde,
    Minus,
    Not,
    Star,
};

struct Token {
    Tok kind = Tok::End;
    std::size_t at = 0;
    std::string text;
};

// Where an error lies, as every message about requirement text ends: " (at byte N)".
std::string at(std::size_t offset);

// Splits the whole text into tokens up front, ending with one Tok::End; the text is bounded, so the
// list is too.
Result<std::vector<Token>> lex(std::string_view s);

// Seconds since 2001-01-01 from the printed form of a date: "2024-05-01 00:00:00 +0000" or a number.
std::optional<std::int64_t> dateSeconds(const std::string& text);

// DER content bytes of a dotted OID ("1.2.840.113635.100.6.2.6") or of "0x" hex as printed for
// bytes that are no OID.
std::optional<Bytes> oidBytes(std::string_view text);

}  // namespace tessarin::requirement_text
