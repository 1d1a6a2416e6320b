// SPDX-License-Identifier: GPL-3.0-or-later
#include "String.h"

#include "Convert.h"
#include "NamedArray.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/types.h>

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) < 33;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

int textLength(const char* text)
{
    if (!text)
        return 0;
    const size_t n = std::strlen(text);
    if (n > static_cast<size_t>(INT_MAX))
        throw std::bad_alloc();
    return static_cast<int>(n);
}

} // namespace

// ---------------------------------------------------------------------------
// Storage

String::String(const char* text)
{
    assign(text, textLength(text));
}

String::String(const char* data, int length)
{
    assign(data, data && length > 0 ? length : 0);
}

String::String(const String& other)
{
    assign(other.m_data, other.m_length);
}

String::String(String&& other) noexcept
    : m_data(other.m_data), m_length(other.m_length), m_capacity(other.m_capacity)
{
    other.m_data = nullptr;
    other.m_length = other.m_capacity = 0;
}

String::~String()
{
    delete[] m_data;
}

String& String::operator=(const String& other)
{
    if (this != &other)
        assign(other.m_data, other.m_length);
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    if (this != &other) {
        delete[] m_data;
        m_data = other.m_data;
        m_length = other.m_length;
        m_capacity = other.m_capacity;
        other.m_data = nullptr;
        other.m_length = other.m_capacity = 0;
    }
    return *this;
}

String& String::operator=(const char* text)
{
    assign(text, textLength(text));
    return *this;
}

void String::assign(const char* data, int length)
{
    if (length <= 0) {
        if (m_data)
            m_data[0] = 0;
        m_length = 0;
        return;
    }
    if (length > m_capacity) {
        // data may point into our own buffer: copy before freeing it.
        char* fresh = new char[static_cast<size_t>(length) + 1];
        std::memcpy(fresh, data, static_cast<size_t>(length));
        delete[] m_data;
        m_data = fresh;
        m_capacity = length;
    } else {
        std::memmove(m_data, data, static_cast<size_t>(length));
    }
    m_length = length;
    m_data[m_length] = 0;
}

void String::reserveFor(long long newLength, bool doubling)
{
    if (newLength > INT_MAX || newLength < 0)
        throw std::bad_alloc();
    if (newLength <= m_capacity)
        return;
    long long cap = doubling ? newLength * 2 : newLength;
    if (cap > INT_MAX)
        cap = INT_MAX;
    char* fresh = new char[static_cast<size_t>(cap) + 1];
    if (m_length > 0)
        std::memcpy(fresh, m_data, static_cast<size_t>(m_length));
    fresh[m_length] = 0;
    delete[] m_data;
    m_data = fresh;
    m_capacity = static_cast<int>(cap);
}

void String::clear()
{
    if (m_data)
        m_data[0] = 0;
    m_length = 0;
}

void String::append(const char* data, int length)
{
    if (!data || length <= 0)
        return;
    if (ownsPointer(data)) {
        // Appending a piece of ourselves: the growth below may free it.
        String copy(data, length);
        append(copy.m_data, copy.m_length);
        return;
    }
    reserveFor(static_cast<long long>(m_length) + length, true);
    std::memcpy(m_data + m_length, data, static_cast<size_t>(length));
    m_length += length;
    m_data[m_length] = 0;
}

bool String::ownsPointer(const char* p) const
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(m_data);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    return m_data && at >= begin && at <= begin + static_cast<uintptr_t>(m_capacity);
}

void String::append(char c, int count)
{
    if (count <= 0)
        return;
    reserveFor(static_cast<long long>(m_length) + count, true);
    std::memset(m_data + m_length, c, static_cast<size_t>(count));
    m_length += count;
    m_data[m_length] = 0;
}

String& String::operator+=(const String& s)
{
    append(s.m_data, s.m_length);
    return *this;
}

String& String::operator+=(const char* text)
{
    append(text, textLength(text));
    return *this;
}

String& String::operator+=(char c)
{
    append(&c, 1);
    return *this;
}

// ---------------------------------------------------------------------------
// Comparison

bool String::operator==(const String& s) const
{
    return m_length == s.m_length
        && (m_length == 0 || std::memcmp(m_data, s.m_data, static_cast<size_t>(m_length)) == 0);
}

bool String::operator==(const char* text) const
{
    const int n = textLength(text);
    return m_length == n
        && (n == 0 || std::memcmp(m_data, text, static_cast<size_t>(n)) == 0);
}

bool String::operator<(const String& s) const
{
    const int n = m_length < s.m_length ? m_length : s.m_length;
    const int c = n > 0 ? std::memcmp(m_data, s.m_data, static_cast<size_t>(n)) : 0;
    return c < 0 || (c == 0 && m_length < s.m_length);
}

bool String::equalsIgnoreCase(const char* text) const
{
    const int n = textLength(text);
    if (n != m_length)
        return false;
    for (int i = 0; i < n; ++i) {
        if (asciiLower(m_data[i]) != asciiLower(text[i]))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Search

int String::findBytes(const char* text, int n, int from) const
{
    if (!text || n <= 0 || m_length == 0)
        return -1;
    if (from < 0)
        from = 0;
    if (from >= m_length || n > m_length - from)
        return -1;
    const int last = m_length - n;
    for (int i = from; i <= last; ++i) {
        if (m_data[i] == text[0] && std::memcmp(m_data + i, text, static_cast<size_t>(n)) == 0)
            return i;
    }
    return -1;
}

int String::findBackBytes(const char* text, int n) const
{
    if (!text || n <= 0 || n > m_length)
        return -1;
    for (int i = m_length - n; i >= 0; --i) {
        if (std::memcmp(m_data + i, text, static_cast<size_t>(n)) == 0)
            return i;
    }
    return -1;
}

int String::find(const char* text, int from) const
{
    return findBytes(text, textLength(text), from);
}

int String::find(const String& text, int from) const
{
    return findBytes(text.m_data, text.m_length, from);
}

int String::findBack(const char* text) const
{
    return findBackBytes(text, textLength(text));
}

int String::findBack(const String& text) const
{
    return findBackBytes(text.m_data, text.m_length);
}

int String::findOneOf(const char* chars, int from) const
{
    if (!chars || !*chars)
        return -1;
    if (from < 0)
        from = 0;
    for (int i = from; i < m_length; ++i) {
        if (m_data[i] != 0 && std::strchr(chars, m_data[i]))
            return i;
    }
    return -1;
}

int String::findBackOneOf(const char* chars) const
{
    if (!chars || !*chars)
        return -1;
    for (int i = m_length - 1; i >= 0; --i) {
        if (m_data[i] != 0 && std::strchr(chars, m_data[i]))
            return i;
    }
    return -1;
}

bool String::startsWith(const char* s) const
{
    return startsWith(String(s));
}

bool String::startsWith(const String& s) const
{
    if (s.m_length == 0)
        return true;
    return s.m_length <= m_length
        && std::memcmp(m_data, s.m_data, static_cast<size_t>(s.m_length)) == 0;
}

bool String::endsWith(const char* s) const
{
    return endsWith(String(s));
}

bool String::endsWith(const String& s) const
{
    if (s.m_length == 0)
        return true;
    return s.m_length <= m_length
        && std::memcmp(m_data + m_length - s.m_length, s.m_data,
                       static_cast<size_t>(s.m_length)) == 0;
}

// ---------------------------------------------------------------------------
// Editing

void String::remove(int pos, int n)
{
    if (m_length == 0 || pos < 0 || pos >= m_length)
        return;
    if (n < 0 || n >= m_length - pos) {
        m_length = pos;
    } else {
        std::memmove(m_data + pos, m_data + pos + n, static_cast<size_t>(m_length - pos - n));
        m_length -= n;
    }
    m_data[m_length] = 0;
}

String String::leftJustified(int width, char fill, bool truncate) const
{
    String result;
    if (width > m_length) {
        result.reserveFor(width, false);
        result.append(m_data, m_length);
        std::memset(result.m_data + m_length, fill, static_cast<size_t>(width - m_length));
        result.m_length = width;
        result.m_data[width] = 0;
    } else {
        result.assign(m_data, truncate ? (width > 0 ? width : 0) : m_length);
    }
    return result;
}

String String::rightJustified(int width, char fill, bool truncate) const
{
    String result;
    if (width > m_length) {
        result.reserveFor(width, false);
        const int pad = width - m_length;
        std::memset(result.m_data, fill, static_cast<size_t>(pad));
        if (m_length > 0)
            std::memcpy(result.m_data + pad, m_data, static_cast<size_t>(m_length));
        result.m_length = width;
        result.m_data[width] = 0;
    } else {
        result.assign(m_data, truncate ? (width > 0 ? width : 0) : m_length);
    }
    return result;
}

void String::replace(const char* from, const char* to)
{
    const int fromLen = textLength(from);
    if (fromLen == 0 || m_length == 0)
        return;
    const int toLen = textLength(to);

    long long hits = 0;
    for (int i = findBytes(from, fromLen, 0); i >= 0; i = findBytes(from, fromLen, i + fromLen))
        ++hits;
    if (hits == 0)
        return;

    // 64-bit arithmetic: a result past INT_MAX is refused before allocating.
    const long long newLength = m_length + hits * (static_cast<long long>(toLen) - fromLen);
    if (newLength > INT_MAX)
        throw std::bad_alloc();

    // Build into a fresh buffer; `to` may point into our own text.
    char* out = new char[static_cast<size_t>(newLength) + 1];
    int src = 0;
    int dst = 0;
    for (int i = findBytes(from, fromLen, 0); i >= 0; i = findBytes(from, fromLen, src)) {
        std::memcpy(out + dst, m_data + src, static_cast<size_t>(i - src));
        dst += i - src;
        if (toLen > 0)
            std::memcpy(out + dst, to, static_cast<size_t>(toLen));
        dst += toLen;
        src = i + fromLen;
    }
    std::memcpy(out + dst, m_data + src, static_cast<size_t>(m_length - src));
    const int length = static_cast<int>(newLength);
    out[length] = 0;

    if (length <= m_capacity) {
        std::memcpy(m_data, out, static_cast<size_t>(length) + 1);
        delete[] out;
        m_length = length;
        return;
    }
    long long cap = newLength * 2;
    if (cap > INT_MAX)
        cap = INT_MAX;
    char* fresh = new (std::nothrow) char[static_cast<size_t>(cap) + 1];
    if (!fresh) {
        // The exact-size buffer already holds the text; keep it.
        fresh = out;
        cap = length;
    } else {
        std::memcpy(fresh, out, static_cast<size_t>(length) + 1);
        delete[] out;
    }
    delete[] m_data;
    m_data = fresh;
    m_length = length;
    m_capacity = static_cast<int>(cap);
}

void String::makeLower()
{
    for (int i = 0; i < m_length; ++i)
        m_data[i] = asciiLower(m_data[i]);
}

void String::makeUpper()
{
    for (int i = 0; i < m_length; ++i)
        m_data[i] = asciiUpper(m_data[i]);
}

String String::trimmed() const
{
    int begin = 0;
    int end = m_length;
    while (begin < end && isBlank(m_data[begin]))
        ++begin;
    while (end > begin && isBlank(m_data[end - 1]))
        --end;
    return String(m_data + begin, end - begin);
}

String String::mid(int pos, int n) const
{
    if (pos < 0)
        pos = 0;
    if (pos >= m_length)
        return String();
    if (n < 0 || n > m_length - pos)
        n = m_length - pos;
    return String(m_data + pos, n);
}

// ---------------------------------------------------------------------------
// Split and compose

void String::split(char sep, Array<String, int>& out, bool trim) const
{
    if (out.data() && this >= out.data() && this < out.data() + out.capacity()) {
        // Splitting an element of out into out: clearing out would overwrite us.
        const String copy(*this);
        copy.split(sep, out, trim);
        return;
    }
    out.setCount(0);
    if (m_length == 0)
        return;
    int start = 0;
    for (int i = 0; i <= m_length; ++i) {
        if (i == m_length || m_data[i] == sep) {
            String piece(m_data + start, i - start);
            out.append(trim ? piece.trimmed() : piece);
            start = i + 1;
        }
    }
}

void String::split(char itemSep, char nameSep, NamedArray& named, bool trim) const
{
    named.removeAll();
    Array<String, int> items;
    split(itemSep, items, false);
    for (int i = 0; i < items.count(); ++i) {
        const String& item = items[i];
        String name = item;
        String value;
        for (int k = 0; k < item.m_length; ++k) {
            if (item.m_data[k] == nameSep) {
                name = item.mid(0, k);
                value = item.mid(k + 1);
                break;
            }
        }
        if (trim) {
            name = name.trimmed();
            value = value.trimmed();
        }
        named.add(name, value);
    }
}

void String::compose(const char* sep, const Array<String, int>& parts)
{
    // parts may hold this very string: compose into a fresh one.
    String result;
    for (int i = 0; i < parts.count(); ++i) {
        if (!result.isEmpty() && !parts[i].isEmpty())
            result += sep;
        result += parts[i];
    }
    *this = std::move(result);
}

void String::compose(char sep, const Array<String, int>& parts)
{
    const char text[2] = { sep, 0 };
    compose(text, parts);
}

// ---------------------------------------------------------------------------
// Format expansion

namespace {

enum class LengthMod { None, HH, H, L, LL, BigL, J, Z, T };

struct Directive
{
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool group = false;
    int width = -1;
    int precision = -1;
    LengthMod length = LengthMod::None;
};

// Decimal digits with overflow clamped at INT_MAX; a huge width then fails
// as an over-long string, not as a wrapped negative number.
int readNumber(const char*& p)
{
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p - '0');
        if (v > INT_MAX)
            v = INT_MAX;
        ++p;
    }
    return static_cast<int>(v);
}

// Refuses a directive whose text would take the string past INT_MAX before
// any of it is appended, so a huge width costs nothing.
void checkRoom(const String& out, long long extra)
{
    if (static_cast<long long>(out.length()) + extra > INT_MAX)
        throw std::bad_alloc();
}

// Appends sign, zeros for the precision, digits, and the width padding.
void appendNumber(String& out, const Directive& d, const char* sign, const String& digits,
                  bool isInteger)
{
    const long long signLen = static_cast<long long>(std::strlen(sign));
    long long zeros = 0;
    if (isInteger && d.precision > digits.length())
        zeros = static_cast<long long>(d.precision) - digits.length();
    const long long body = signLen + zeros + digits.length();
    const long long pad = d.width > body ? d.width - body : 0;
    checkRoom(out, body + pad);
    const int z = static_cast<int>(zeros);
    const int p = static_cast<int>(pad);

    if (d.left) {
        out += sign;
        out.append('0', z);
        out += digits;
        out.append(' ', p);
    } else if (d.zero) {
        out += sign;
        out.append('0', z + p);
        out += digits;
    } else {
        out.append(' ', p);
        out += sign;
        out.append('0', z);
        out += digits;
    }
}

void appendText(String& out, const Directive& d, const char* text, int length)
{
    const int pad = d.width > length ? d.width - length : 0;
    checkRoom(out, static_cast<long long>(length) + pad);
    if (!d.left)
        out.append(' ', pad);
    out.append(text, length);
    if (d.left)
        out.append(' ', pad);
}

String groupDigits(const String& digits)
{
    String out;
    const int n = digits.length();
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

long long readSigned(va_list& args, LengthMod m)
{
    switch (m) {
    case LengthMod::HH: return static_cast<signed char>(va_arg(args, int));
    case LengthMod::H: return static_cast<short>(va_arg(args, int));
    case LengthMod::L: return va_arg(args, long);
    case LengthMod::LL:
    case LengthMod::BigL: return va_arg(args, long long);
    case LengthMod::J: return va_arg(args, intmax_t);
    case LengthMod::Z: return va_arg(args, ssize_t);
    case LengthMod::T: return va_arg(args, ptrdiff_t);
    case LengthMod::None: break;
    }
    return va_arg(args, int);
}

unsigned long long readUnsigned(va_list& args, LengthMod m)
{
    switch (m) {
    case LengthMod::HH: return static_cast<unsigned char>(va_arg(args, unsigned int));
    case LengthMod::H: return static_cast<unsigned short>(va_arg(args, unsigned int));
    case LengthMod::L: return va_arg(args, unsigned long);
    case LengthMod::LL:
    case LengthMod::BigL: return va_arg(args, unsigned long long);
    case LengthMod::J: return va_arg(args, uintmax_t);
    case LengthMod::Z: return va_arg(args, size_t);
    case LengthMod::T: return static_cast<unsigned long long>(va_arg(args, ptrdiff_t));
    case LengthMod::None: break;
    }
    return va_arg(args, unsigned int);
}

void storeCount(va_list& args, LengthMod m, int produced)
{
    void* p = va_arg(args, void*);
    if (!p)
        return;
    switch (m) {
    case LengthMod::HH: *static_cast<signed char*>(p) = static_cast<signed char>(produced); break;
    case LengthMod::H: *static_cast<short*>(p) = static_cast<short>(produced); break;
    case LengthMod::L: *static_cast<long*>(p) = produced; break;
    case LengthMod::LL:
    case LengthMod::BigL: *static_cast<long long*>(p) = produced; break;
    case LengthMod::J: *static_cast<intmax_t*>(p) = produced; break;
    case LengthMod::Z: *static_cast<ssize_t*>(p) = produced; break;
    case LengthMod::T: *static_cast<ptrdiff_t*>(p) = produced; break;
    case LengthMod::None: *static_cast<int*>(p) = produced; break;
    }
}

} // namespace

String String::format(const char* fmt, ...)
{
    String result;
    va_list args;
    va_start(args, fmt);
    try {
        result.formatArgumentsList(fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return result;
}

void String::formatArgumentsList(const char* fmt, va_list args)
{
    if (!fmt || !*fmt) {
        clear();
        return;
    }
    // Expand into a string of its own: the format and the %s arguments may
    // point into this string's buffer, which appending would free.
    String expansion;
    expansion.expandFormat(fmt, args);
    if (isEmpty())
        *this = std::move(expansion);
    else
        *this += expansion;
}

void String::expandFormat(const char* fmt, va_list argsIn)
{
    va_list args;
    va_copy(args, argsIn);
    // The va_list copy must be released on every path, exceptions included.
    struct VaGuard
    {
        va_list& a;
        ~VaGuard() { va_end(a); }
    } guard{ args };

    const char* p = fmt;
    while (*p) {
        if (*p != '%') {
            const char* run = p;
            while (*p && *p != '%')
                ++p;
            append(run, static_cast<int>(p - run));
            continue;
        }
        const char* directive = p++;
        if (*p == '%') {
            *this += '%';
            ++p;
            continue;
        }
        if (!*p) {
            *this += '%';
            break;
        }

        Directive d;
        for (;; ++p) {
            if (*p == '-')
                d.left = true;
            else if (*p == '0')
                d.zero = true;
            else if (*p == '+')
                d.plus = true;
            else if (*p == ' ')
                d.space = true;
            else if (*p == '\'')
                d.group = true;
            else if (*p != '#')
                break;
        }
        if (*p == '*') {
            const int w = va_arg(args, int);
            d.width = w < -1 ? -1 : w;
            ++p;
        } else if (*p >= '0' && *p <= '9') {
            d.width = readNumber(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                const int pr = va_arg(args, int);
                d.precision = pr < -1 ? -1 : pr;
                ++p;
            } else {
                d.precision = readNumber(p);
            }
        }
        if (p[0] == 'h' && p[1] == 'h') {
            d.length = LengthMod::HH;
            p += 2;
        } else if (p[0] == 'l' && p[1] == 'l') {
            d.length = LengthMod::LL;
            p += 2;
        } else if (*p == 'h') {
            d.length = LengthMod::H;
            ++p;
        } else if (*p == 'l') {
            d.length = LengthMod::L;
            ++p;
        } else if (*p == 'L') {
            d.length = LengthMod::BigL;
            ++p;
        } else if (*p == 'j') {
            d.length = LengthMod::J;
            ++p;
        } else if (*p == 'z' || *p == 'Z') {
            d.length = LengthMod::Z;
            ++p;
        } else if (*p == 't') {
            d.length = LengthMod::T;
            ++p;
        }

        const char conv = *p;
        if (!conv) {
            // The format ends inside a directive: keep its text.
            append(directive, static_cast<int>(p - directive));
            break;
        }
        ++p;
        switch (conv) {
        case 'd':
        case 'i': {
            const long long v = readSigned(args, d.length);
            const unsigned long long magnitude =
                v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            String digits = Convert::uint642str(magnitude, 10);
            if (d.group)
                digits = groupDigits(digits);
            const char* sign = v < 0 ? "-" : d.plus ? "+" : d.space ? " " : "";
            appendNumber(*this, d, sign, digits, true);
            break;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            const unsigned long long v = readUnsigned(args, d.length);
            const int radix = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
            String digits = Convert::uint642str(v, radix);
            if (conv == 'X')
                digits.makeUpper();
            if (d.group && conv == 'u')
                digits = groupDigits(digits);
            appendNumber(*this, d, "", digits, true);
            break;
        }
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int));
            appendText(*this, d, &c, 1);
            break;
        }
        case 's': {
            const char* s = va_arg(args, const char*);
            int n = 0;
            if (s) {
                // With a precision, never read past it: the text need not be
                // terminated within reach.
                n = d.precision >= 0 ? static_cast<int>(strnlen(s, static_cast<size_t>(d.precision)))
                                     : textLength(s);
            }
            appendText(*this, d, s ? s : "", n);
            break;
        }
        case 'p': {
            const void* ptr = va_arg(args, void*);
            const String digits =
                Convert::uint642str(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ptr)), 16);
            Directive plain = d;
            plain.precision = -1;
            appendNumber(*this, plain, "", digits, true);
            break;
        }
        case 'n':
            storeCount(args, d.length, m_length);
            break;
        case 'a':
        case 'e':
        case 'f':
        case 'g':
        case 'A':
        case 'E':
        case 'F':
        case 'G': {
            String text = d.length == LengthMod::BigL
                ? Convert::longDouble2str(va_arg(args, long double), d.precision)
                : Convert::double2str(va_arg(args, double), d.precision);
            if (conv >= 'A' && conv <= 'Z')
                text.makeUpper();
            const char* sign = "";
            String digits;
            if (text.startsWith("-")) {
                sign = "-";
                digits = text.mid(1);
            } else {
                sign = d.plus ? "+" : d.space ? " " : "";
                digits = text;
            }
            Directive noZeroForNan = d;
            if (!digits.isEmpty() && !(digits[0] >= '0' && digits[0] <= '9'))
                noZeroForNan.zero = false; // "  inf", never "00inf"
            appendNumber(*this, noZeroForNan, sign, digits, false);
            break;
        }
        default:
            // Unknown conversion: copied as written; no argument is taken.
            append(directive, static_cast<int>(p - directive));
            break;
        }
    }
}

// ---------------------------------------------------------------------------

int StringHashFunction(const String& s)
{
    uint32_t h = 0;
    for (int i = 0; i < s.length(); ++i) {
        const int b = static_cast<signed char>(s[i]);
        h = h * 33u + static_cast<uint32_t>(b);
        if (static_cast<int32_t>(h) < 0)
            h = 0u - h;
    }
    const int32_t result = static_cast<int32_t>(h);
    return result < 0 ? 0 : result;
}
