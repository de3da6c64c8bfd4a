#pragma once

#include <QByteArray>
#include <QString>

// The digit form in which the database login name and password are stored: every byte becomes
// four characters from "0", "3", "4", "7", one per 2-bit group, most significant first
// (group value v is written as the digit 2v + v mod 2). "abc" -> "340334043407".
QByteArray EncodeParam(const QByteArray &text);

// The inverse. A length that is not a multiple of 4 gives the empty text; a character that is not a
// decimal digit raises the integer conversion error for that one character. The decoder is lenient:
// each digit d counts as d div 2, so "2413" also reads as "a".
QByteArray DecodeParam(const QByteArray &digits);

// Trimming as applied to every stored setting: leading and trailing blanks and control characters.
QString TrimSetting(const QString &text);
