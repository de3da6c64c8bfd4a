#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The runtime's text-to-integer conversion.
//
// Accepted: optional leading blanks (the blank character only), then either an optional sign and
// decimal digits within the signed 32-bit range, or, without a sign, one of "$", "x", "X", "0x",
// "0X" followed by one to eight hexadecimal digits (taken as the 32 bits of the result).
// Anything else, a trailing blank included, is rejected.
std::optional<std::int32_t> tryStrToInt(const QString &text);

// As tryStrToInt, but a rejected text raises EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(const QString &text);
