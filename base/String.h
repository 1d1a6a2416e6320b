// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdarg>

#include "Array.h"

class NamedArray;

// The foundation library's 8-bit string. Bytes are opaque (no encoding; case
// operations touch ASCII letters only) and may include NUL when a string is
// built from (data, length). A never-filled string holds no buffer; c_str()
// still gives "".
//
// Sizes: assigning a text of length L reuses the buffer when it fits, else
// allocates exactly L + 1 bytes; appending grows the buffer to twice the new
// length. A length past INT_MAX fails with std::bad_alloc before anything is
// allocated; sizes never wrap.
//
// Positions are byte indices; -1 means "not found". Negative positions are
// taken as 0.
class String
{
public:
    String() = default;
    String(const char* text);
    String(const char* data, int length);
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);

    const char* c_str() const { return m_data ? m_data : ""; }
    // The buffer itself: null for a never-filled string.
    const char* data() const { return m_data; }
    int length() const { return m_length; }
    int capacity() const { return m_capacity; }
    bool isEmpty() const { return m_length == 0; }
    char operator[](int i) const { return m_data[i]; }

    // Empties the string and keeps the buffer.
    void clear();
    void append(const char* data, int length);
    // Appends count copies of c (nothing for count <= 0).
    void append(char c, int count);
    String& operator+=(const String& s);
    String& operator+=(const char* text);
    String& operator+=(char c);

    bool operator==(const String& s) const;
    bool operator==(const char* text) const;
    bool operator!=(const String& s) const { return !(*this == s); }
    bool operator!=(const char* text) const { return !(*this == text); }
    // Byte order, for sorted containers.
    bool operator<(const String& s) const;
    bool equalsIgnoreCase(const char* text) const;

    // First occurrence of text at or after from; -1 if text is null or empty,
    // the string is empty, from >= length or text is longer than what remains.
    int find(const char* text, int from = 0) const;
    int find(const String& text, int from = 0) const;
    // Last occurrence; -1 if text is null, empty or longer than the string.
    int findBack(const char* text) const;
    int findBack(const String& text) const;
    // First index >= from whose byte is one of chars; -1 if chars is null or
    // empty or from >= length.
    int findOneOf(const char* chars, int from = 0) const;
    // Same, from the last byte down.
    int findBackOneOf(const char* chars) const;

    // Nothing if the string is empty or pos is outside it; a negative n or
    // one reaching the end cuts the string at pos.
    void remove(int pos, int n);
    // A new string of at least width bytes: the text followed (left) or
    // preceded (right) by copies of fill; a longer text is cut to width when
    // truncate is set, else copied.
    String leftJustified(int width, char fill = ' ', bool truncate = false) const;
    String rightJustified(int width, char fill = ' ', bool truncate = false) const;
    // Replaces every non-overlapping occurrence of from, left to right;
    // inserted text is never rescanned. A null `to` deletes.
    void replace(const char* from, const char* to);

    // An empty or null argument gives true; a longer one false.
    bool startsWith(const char* s) const;
    bool startsWith(const String& s) const;
    bool endsWith(const char* s) const;
    bool endsWith(const String& s) const;

    // ASCII letters only, in place.
    void makeLower();
    void makeUpper();
    // A copy without leading and trailing bytes below 33 (bytes >= 128 stay).
    String trimmed() const;
    // The bytes [pos, pos + n), clipped to the string; n < 0 means "to the end".
    String mid(int pos, int n = -1) const;

    // Clears out and appends every piece between occurrences of sep, empty
    // pieces included ('a,,b,' gives 'a', '', 'b', ''). An empty string gives
    // no pieces. trim cuts bytes below 33 from both ends of every piece.
    void split(char sep, Array<String, int>& out, bool trim = false) const;
    // Empties named, cuts the string into items at itemSep and each item at
    // its first nameSep into name and value (value empty when there is no
    // nameSep), and adds them with NamedArray::add (so empty names are
    // skipped). trim applies to the name and to the value.
    void split(char itemSep, char nameSep, NamedArray& named, bool trim = false) const;
    // Sets the string to the parts joined; sep goes before a part only when
    // the text composed so far is not empty.
    void compose(const char* sep, const Array<String, int>& parts);
    void compose(char sep, const Array<String, int>& parts);

    // Builds a string from a printf-style format; see formatArgumentsList.
    static String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    // Appends the expansion of a printf-style format to the string; an empty
    // or null format clears the string instead. Directives:
    //   %[flags][width][.precision][length]conversion
    //   flags   '-' left-justify (numbers too), '0' pad numbers with zeros
    //           after any sign ('-0005'), '+' sign on non-negative signed
    //           numbers, ' ' blank instead, '\'' group decimal digits in
    //           threes with ',', '#' accepted without effect
    //   width   digits or '*' (int argument; below -1 counts as none)
    //   prec.   '.' then digits or '*'; minimum digits of an integer, maximum
    //           bytes of %s, fraction digits of a float (default 6)
    //   length  hh h l ll L j z Z t
    //   conv.   d i u o x X c s p n, and a e f g A E F G, which all give
    //           fixed-point text (Convert::double2str; upper-case letters give
    //           "INF"/"NAN"); %% gives '%'. %n stores the bytes produced by
    //           this call so far (a null pointer is skipped); %p gives hex
    //           digits without prefix. Anything else is copied unchanged.
    void formatArgumentsList(const char* fmt, va_list args);

private:
    // Makes room for a text of newLength bytes, keeping the current bytes;
    // grows to twice the length when `doubling`, else exactly.
    void reserveFor(long long newLength, bool doubling);
    void assign(const char* data, int length);
    // Appends the expansion of fmt to this string, which nothing else sees.
    void expandFormat(const char* fmt, va_list args);
    // True when p points into this string's own buffer, which growing frees.
    bool ownsPointer(const char* p) const;
    int findBytes(const char* text, int textLength, int from) const;
    int findBackBytes(const char* text, int textLength) const;

    char* m_data = nullptr;
    int m_length = 0;
    int m_capacity = 0;
};

// h = |h * 33 + b| over the bytes taken as signed chars, 32-bit wrap-around;
// never negative (a sum that wraps to INT_MIN gives 0).
int StringHashFunction(const String& s);
