// SPDX-License-Identifier: MIT
#include "numberreader.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// A double is rounded correctly from at most 767 significant digits; the digits
// beyond those only matter as "something non-zero follows".
constexpr std::size_t significantDigits = 800;
// Far beyond any double; keeps exponent sums from overflowing on absurd input.
constexpr qint64 exponentLimit = 1'000'000'000;

// Walks the text, stepping over blanks, tabs and line feeds wherever they stand.
class Cursor
{
public:
    explicit Cursor(QStringView text) : m_text(text) {}

    // The next character that counts, or 0 at the end (an embedded NUL cannot
    // continue a number either).
    char16_t peek()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos].unicode()))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos].unicode() : u'\0';
    }
    void next() { ++m_pos; }

private:
    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

    QStringView m_text;
    qsizetype m_pos = 0;
};

int digitValue(char16_t c, int base)
{
    int d = base;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < base ? d : -1;
}

double readRadix(Cursor &cursor, int base)
{
    // Plain magnitudes: the runtime would fold 4- and 8-digit values into
    // negative 16- and 32-bit numbers, but that only turns one number too large
    // for a port into another one.
    double value = 0;
    for (int d; (d = digitValue(cursor.peek(), base)) >= 0; cursor.next())
        value = value * base + d;
    return value;
}

// Reads an optional exponent: E or D (the runtime takes both), a sign, digits.
// Without a digit after it the letter is not part of the number.
qint64 readExponent(Cursor &cursor)
{
    const char16_t letter = cursor.peek();
    if (letter != u'e' && letter != u'E' && letter != u'd' && letter != u'D')
        return 0;
    Cursor ahead = cursor;
    ahead.next();
    bool negative = false;
    if (ahead.peek() == u'+' || ahead.peek() == u'-') {
        negative = ahead.peek() == u'-';
        ahead.next();
    }
    if (digitValue(ahead.peek(), 10) < 0)
        return 0;
    qint64 exponent = 0;
    for (int d; (d = digitValue(ahead.peek(), 10)) >= 0; ahead.next())
        exponent = qMin(exponent * 10 + d, exponentLimit);
    cursor = ahead;
    return negative ? -exponent : exponent;
}

double readDecimal(Cursor &cursor)
{
    bool negative = false;
    if (cursor.peek() == u'+' || cursor.peek() == u'-') {
        negative = cursor.peek() == u'-';
        cursor.next();
    }

    // value = digits × 10^scale
    std::string digits;
    qint64 scale = 0;
    bool anyDigit = false;
    bool droppedNonZero = false;
    bool fraction = false;
    for (;; cursor.next()) {
        const char16_t c = cursor.peek();
        if (c == u'.' && !fraction) {
            fraction = true;
            continue;
        }
        const int d = digitValue(c, 10);
        if (d < 0)
            break;
        anyDigit = true;
        if (digits.empty() && d == 0) {
            if (fraction)
                --scale;
        } else if (digits.size() < significantDigits) {
            digits.push_back(char('0' + d));
            if (fraction)
                --scale;
        } else {
            droppedNonZero = droppedNonZero || d != 0;
            if (!fraction)
                ++scale;
        }
    }
    if (!anyDigit)
        return 0;
    scale += readExponent(cursor);
    if (digits.empty())
        return negative ? -0.0 : 0.0;
    if (droppedNonZero) {
        digits.push_back('1');
        --scale;
    }

    scale = qBound(-exponentLimit, scale, exponentLimit);
    const std::string text = digits + 'e' + std::to_string(scale);
    const double value = std::strtod(text.c_str(), nullptr); // ±HUGE_VAL or 0 on range errors
    return negative ? -value : value;
}

} // namespace

namespace NumberReader {

double read(QStringView text)
{
    Cursor cursor(text);
    if (cursor.peek() != u'&')
        return readDecimal(cursor);
    cursor.next();
    const char16_t kind = cursor.peek();
    cursor.next();
    if (kind == u'h' || kind == u'H')
        return readRadix(cursor, 16);
    if (kind == u'o' || kind == u'O')
        return readRadix(cursor, 8);
    return 0;
}

std::optional<quint8> readByte(QStringView text)
{
    const double value = read(text);
    if (!(value > -1 && value < 256))
        return std::nullopt;
    // Written out rather than left to the floating-point rounding mode.
    const double below = std::floor(value);
    const double rest = value - below;
    double whole = below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2) != 0))
        whole = below + 1;
    if (whole < 0 || whole > 255)
        return std::nullopt;
    return quint8(whole);
}

} // namespace NumberReader
