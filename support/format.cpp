// The counting pass walks the format with the same state machine as the C
// runtime's formatting and counts what each conversion would write.
#include "support/format.h"

#include <windows.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

enum State { kNormal, kPercent, kFlag, kWidth, kDot, kPrecision, kSize, kType };
enum Class { kOther, kPercentSign, kDotSign, kStar, kZero, kDigit, kFlagChar, kSizeChar, kTypeChar };

const State kNext[9][8] = {
    // normal   percent   flag      width     dot         precision   size    type
    {kNormal, kNormal, kNormal, kNormal, kNormal, kNormal, kNormal, kNormal},          // other
    {kPercent, kNormal, kNormal, kNormal, kNormal, kNormal, kNormal, kPercent},        // percent
    {kNormal, kDot, kDot, kDot, kNormal, kNormal, kNormal, kNormal},                   // dot
    {kNormal, kWidth, kWidth, kNormal, kPrecision, kNormal, kNormal, kNormal},         // star
    {kNormal, kFlag, kFlag, kWidth, kPrecision, kPrecision, kNormal, kNormal},         // zero
    {kNormal, kWidth, kWidth, kWidth, kPrecision, kPrecision, kNormal, kNormal},       // digit
    {kNormal, kFlag, kFlag, kNormal, kNormal, kNormal, kNormal, kNormal},              // flag
    {kNormal, kSize, kSize, kSize, kSize, kSize, kSize, kNormal},                      // size
    {kNormal, kType, kType, kType, kType, kType, kType, kNormal},                      // type
};

constexpr Class ClassOfByte(unsigned char c)
{
    if (c < ' ' || c > 'x')
        return kOther;
    switch (c) {
    case '%': return kPercentSign;
    case '.': return kDotSign;
    case '*': return kStar;
    case '0': return kZero;
    case ' ': case '#': case '+': case '-': return kFlagChar;
    case 'F': case 'I': case 'L': case 'N': case 'h': case 'l': case 'w': return kSizeChar;
    case 'A': case 'C': case 'E': case 'G': case 'S': case 'X': case 'Z': case 'a': case 'c': case 'd':
    case 'e': case 'f': case 'g': case 'i': case 'n': case 'o': case 'p': case 's': case 'u': case 'x':
        return kTypeChar;
    default: break;
    }
    return (c >= '1' && c <= '9') ? kDigit : kOther;
}

struct ClassTable {
    Class of[256];
    constexpr ClassTable() : of()
    {
        for (int c = 0; c < 256; ++c)
            of[c] = ClassOfByte((unsigned char)c);
    }
};

constexpr ClassTable kClasses;

// Size marks as the runtime keeps them: "h" and "l" replace each other,
// "w" and "I64" stand beside them ("%hwu" is a short, "%hlC" is wide).
enum SizeMark { kShort = 1, kLong = 2, kWide = 4, kInt64 = 8 };

struct Conversion {
    bool left, plus, blank, alternate, zeroPad;
    unsigned width;
    int precision;  // -1: unset
    unsigned size;  // SizeMark bits
    bool widthGiven;
    bool dot;          // a precision was written
    int rawWidth;      // width and precision as given, for the runtime's
    int rawPrecision;  // own floating conversion
};

// The text of one conversion: the bytes it writes, the characters padding
// is measured against (a wide text is padded by its character count), an
// optional prefix and whether it produces anything at all.
struct Piece {
    unsigned length;
    const char* prefix;
    bool produced;
    unsigned padLength;
};

Piece Bytes(unsigned length, const char* prefix = "") { return {length, prefix, true, length}; }

const int kScratch = 512;

struct Counter {
    va_list args;
    unsigned count;
    Conversion conv;
    char scratch[kScratch];
};

int TakeInt(Counter& c) { return va_arg(c.args, int); }

// Bytes of the multi-byte form of one wide character, -1 when it has none.
int WideCharBytes(wchar_t wc)
{
    char mb[MB_LEN_MAX];
    return wctomb(mb, wc);
}

// A wide text of at most `limit` characters, stopping at the first
// character that cannot be converted.
Piece WideText(const wchar_t* text, unsigned limit)
{
    Piece piece = {0, "", true, 0};
    for (unsigned i = 0; i < limit && text[i]; ++i) {
        int n = WideCharBytes(text[i]);
        if (n < 0)
            break;
        piece.length += unsigned(n);
        ++piece.padLength;
    }
    return piece;
}

unsigned NarrowTextBytes(const char* text, int precision)
{
    if (precision < 0)
        return unsigned(strlen(text));
    unsigned n = 0;  // never reads past the terminator, nor past `precision`
    while (n < unsigned(precision) && text[n])
        ++n;
    return n;
}

bool IsWide(char type, unsigned size)
{
    if (size & (kLong | kWide))
        return true;
    return (type == 'C' || type == 'S') && !(size & kShort);
}

Piece CharPiece(Counter& c, char type)
{
    int value = TakeInt(c);
    if (!IsWide(type, c.conv.size))
        return Bytes(1);
    int n = WideCharBytes(wchar_t(value & 0xFFFF));
    if (n < 0)
        return {0, "", false, 0};
    return {unsigned(n), "", true, 1};
}

Piece TextPiece(Counter& c, char type)
{
    const void* text = va_arg(c.args, const void*);
    const unsigned limit = c.conv.precision < 0 ? ~0u : unsigned(c.conv.precision);
    if (IsWide(type, c.conv.size))
        return WideText(text ? static_cast<const wchar_t*>(text) : L"(null)", limit);
    return Bytes(NarrowTextBytes(text ? static_cast<const char*>(text) : "(null)", c.conv.precision));
}

struct CountedText {
    unsigned short length;
    unsigned short capacity;
    const void* buffer;
};

Piece CountedPiece(Counter& c)
{
    const CountedText* counted = va_arg(c.args, const CountedText*);
    if (!counted || !counted->buffer)
        return Bytes(6);
    if (c.conv.size & kWide)
        return WideText(static_cast<const wchar_t*>(counted->buffer), counted->length / 2u);
    return Bytes(counted->length);
}

unsigned long long TakeInteger(Counter& c, bool isSigned)
{
    if (c.conv.size & kInt64)
        return va_arg(c.args, unsigned long long);
    unsigned value = va_arg(c.args, unsigned);
    if (c.conv.size & kShort)
        return isSigned ? (unsigned long long)(long long)(short)value : (unsigned short)value;
    return isSigned ? (unsigned long long)(long long)(int)value : value;
}

unsigned DigitCount(unsigned long long value, unsigned radix)
{
    unsigned n = 0;
    for (; value; value /= radix)
        ++n;
    return n;
}

Piece IntegerPiece(Counter& c, char type)
{
    const bool isSigned = type == 'd' || type == 'i';
    unsigned long long value = TakeInteger(c, isSigned);
    const char* prefix = "";
    if (isSigned) {
        bool negative = (long long)value < 0;
        if (negative)
            value = 0 - value;
        prefix = negative ? "-" : c.conv.plus ? "+" : c.conv.blank ? " " : "";
    }
    const unsigned radix = type == 'o' ? 8 : (type == 'x' || type == 'X') ? 16 : 10;
    const unsigned natural = DigitCount(value, radix);
    if (c.conv.precision >= 0)
        c.conv.zeroPad = false;
    const unsigned minimum = c.conv.precision < 0 ? 1 : unsigned(c.conv.precision);
    unsigned digits = natural < minimum ? minimum : natural;
    if (type == 'o' && c.conv.alternate && digits == natural)
        ++digits;  // a leading "0" unless the digits already begin with one
    if ((type == 'x' || type == 'X') && c.conv.alternate && value != 0)
        prefix = type == 'x' ? "0x" : "0X";
    return Bytes(digits, prefix);
}

// A pointer: its own size, every hexadecimal digit of it written.
Piece PointerPiece(Counter& c)
{
    c.conv.size = sizeof(void*) == 8 ? kInt64 : 0;
    c.conv.precision = int(2 * sizeof(void*));
    return IntegerPiece(c, 'X');
}

// Floating conversions are the runtime's own: the whole conversion, flags,
// width and precision included, is made in the scratch area, and a text too
// long for it is measured by the runtime instead. The result is the padded
// length, so no further padding applies.
unsigned FloatLength(Counter& c, char type)
{
    const double value = va_arg(c.args, double);
    char form[16];
    char* p = form;
    *p++ = '%';
    if (c.conv.left) *p++ = '-';
    if (c.conv.plus) *p++ = '+';
    if (c.conv.blank) *p++ = ' ';
    if (c.conv.alternate) *p++ = '#';
    if (c.conv.zeroPad) *p++ = '0';
    int numbers[2];
    int used = 0;
    if (c.conv.widthGiven) {
        *p++ = '*';
        numbers[used++] = c.conv.rawWidth;
    }
    if (c.conv.dot) {
        memcpy(p, ".*", 2);
        p += 2;
        numbers[used++] = c.conv.rawPrecision;
    }
    *p++ = type;
    *p = '\0';
    int n;
    switch (used) {
    case 0: n = _snprintf(c.scratch, kScratch, form, value); break;
    case 1: n = _snprintf(c.scratch, kScratch, form, numbers[0], value); break;
    default: n = _snprintf(c.scratch, kScratch, form, numbers[0], numbers[1], value); break;
    }
    if (n >= 0 && n < kScratch)
        return unsigned(n);
    switch (used) {
    case 0: n = _scprintf(form, value); break;
    case 1: n = _scprintf(form, numbers[0], value); break;
    default: n = _scprintf(form, numbers[0], numbers[1], value); break;
    }
    return n < 0 ? 0u : unsigned(n);
}

void StoreCount(Counter& c)
{
    void* target = va_arg(c.args, void*);
    if (c.conv.size & kShort)
        *static_cast<short*>(target) = short(c.count);
    else
        *static_cast<int*>(target) = int(c.count);
}

Piece MakePiece(Counter& c, char type)
{
    switch (type) {
    case 'c': case 'C': return CharPiece(c, type);
    case 's': case 'S': return TextPiece(c, type);
    case 'Z': return CountedPiece(c);
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': return IntegerPiece(c, type);
    case 'p': return PointerPiece(c);
    default: break;
    }
    return {0, "", false, 0};
}

void CountConversion(Counter& c, char type)
{
    if (type == 'n') {
        StoreCount(c);
        return;
    }
    if (strchr("eEfgGaA", type)) {
        c.count += FloatLength(c, type);
        return;
    }
    const Piece piece = MakePiece(c, type);
    if (!piece.produced)
        return;
    const unsigned prefix = unsigned(strlen(piece.prefix));
    const unsigned measured = prefix + piece.padLength;
    const unsigned padding = c.conv.width > measured ? c.conv.width - measured : 0;
    c.count += prefix + piece.length + padding;
}

void SetFlag(Conversion& conv, char flag)
{
    switch (flag) {
    case '-': conv.left = true; break;
    case '+': conv.plus = true; break;
    case ' ': conv.blank = true; break;
    case '#': conv.alternate = true; break;
    case '0': conv.zeroPad = true; break;
    default: break;
    }
}

void SetWidth(Counter& c, char ch)
{
    c.conv.widthGiven = true;
    if (ch != '*') {
        c.conv.width = c.conv.width * 10 + unsigned(ch - '0');
        c.conv.rawWidth = int(c.conv.width);
        return;
    }
    int width = TakeInt(c);
    c.conv.rawWidth = width;
    if (width < 0) {
        c.conv.left = true;
        c.conv.width = 0u - unsigned(width);
    } else {
        c.conv.width = unsigned(width);
    }
}

void SetPrecision(Counter& c, char ch)
{
    if (ch == '*') {
        int precision = TakeInt(c);
        c.conv.rawPrecision = precision;
        c.conv.precision = precision < 0 ? -1 : precision;
    } else {
        c.conv.precision = c.conv.precision * 10 + (ch - '0');
        c.conv.rawPrecision = c.conv.precision;
    }
}

// Returns how many extra format bytes the size prefix consumed.
int SetSize(Conversion& conv, const char* p)
{
    switch (*p) {
    case 'h': conv.size = (conv.size & ~kLong) | kShort; break;
    case 'l': conv.size = (conv.size & ~kShort) | kLong; break;
    case 'w': conv.size |= kWide; break;
    case 'I':
        if (p[1] == '6' && p[2] == '4') {
            conv.size |= kInt64;
            return 2;
        }
        if (p[1] == '3' && p[2] == '2')
            return 2;  // explicitly 32-bit, the default here
        if (sizeof(void*) == 8)
            conv.size |= kInt64;  // alone: the size of a pointer
        break;
    default: break;
    }
    return 0;
}

// Counts a normal byte; a double-byte character's trail byte goes with it.
int CountText(Counter& c, const char* p, bool multiByte)
{
    ++c.count;
    if (multiByte && isleadbyte((unsigned char)*p) && p[1]) {
        ++c.count;
        return 1;
    }
    return 0;
}

}  // namespace

int xFormatLength(const char* format, va_list arguments)
{
    Counter c;
    va_copy(c.args, arguments);
    c.count = 0;
    State state = kNormal;
    const bool multiByte = MB_CUR_MAX > 1;  // no lead bytes in a single-byte locale
    for (const char* p = format; *p; ++p) {
        state = kNext[kClasses.of[(unsigned char)*p]][state];
        switch (state) {
        case kNormal: p += CountText(c, p, multiByte); break;
        case kPercent: c.conv = Conversion{false, false, false, false, false, 0, -1, 0, false, false, 0, 0}; break;
        case kFlag: SetFlag(c.conv, *p); break;
        case kWidth: SetWidth(c, *p); break;
        case kDot: c.conv.precision = c.conv.rawPrecision = 0, c.conv.dot = true; break;
        case kPrecision: SetPrecision(c, *p); break;
        case kSize: p += SetSize(c.conv, p); break;
        case kType: CountConversion(c, *p); break;
        }
    }
    va_end(c.args);
    return int(c.count);
}

namespace {

enum Outcome { kFits, kTooSmall, kRefused, kNoMemory };

// Formats into a new block of `size` bytes, never past it; `*written` is
// the length when it fits. The runtime answers -1 both when the text does
// not fit (it has then filled the block to its end) and when it refuses a
// conversion.
Outcome FormatInto(char** block, size_t size, const char* format, va_list arguments, int* written)
{
    *block = static_cast<char*>(calloc(size, 1));
    if (!*block)
        return kNoMemory;
    va_list copy;
    va_copy(copy, arguments);
    *written = _vsnprintf(*block, size, format, copy);
    va_end(copy);
    if (*written >= 0 && size_t(*written) < size)
        return kFits;
    return (*block)[size - 1] != '\0' || *written >= 0 ? kTooSmall : kRefused;
}

// The counted size is exact for the format language. A form outside it that
// the runtime formats its own way may come out longer than counted: the text
// is then made in ever larger blocks and copied into one of its exact size.
char* FormatWhole(const char* format, va_list arguments, int counted, int* length)
{
    char* text = nullptr;
    size_t size = size_t(counted) + 1;
    int written = 0;
    Outcome outcome = FormatInto(&text, size, format, arguments, &written);
    while (outcome == kTooSmall) {
        free(text);
        size = size * 2 + 64;
        outcome = FormatInto(&text, size, format, arguments, &written);
    }
    if (outcome == kNoMemory)
        return nullptr;
    if (outcome == kRefused) {
        *length = counted;  // what was made up to the refusal, in the counted size
        return text;
    }
    if (size_t(written) + 1 != size) {
        char* exact = static_cast<char*>(calloc(size_t(written) + 1, 1));
        if (exact)
            memcpy(exact, text, size_t(written));
        free(text);
        text = exact;
    }
    *length = written;
    return text;
}

}  // namespace

int xAllocVPrintf(char** textPointer, const char* format, va_list arguments)
{
    if (!textPointer || !format)
        return 0;
    int length = 0;
    char* text = FormatWhole(format, arguments, xFormatLength(format, arguments), &length);
    free(*textPointer);
    *textPointer = text;
    return text ? length + 1 : 0;
}

int xAllocPrintf(char** textPointer, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = xAllocVPrintf(textPointer, format, arguments);
    va_end(arguments);
    return result;
}

char* xLastChar(char* text)
{
    if (!*text)
        return text;
    char* end = text;
    while (*end)
        end = CharNextA(end);
    return CharPrevA(text, end);
}
