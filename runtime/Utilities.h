// Text, date, encoding and version helpers, and the console functions. The
// extern "C" ones are exported as they are.
#pragma once

#include "hsim_types.h"

#include <cstddef>
#include <string>
#include <vector>
#include <wchar.h>

extern "C" {
HSIM_API void StringTrimRight(char* s);
HSIM_API void StringTrimLeft(char* s);
HSIM_API void StringTrim(char* s);
HSIM_API void StringToken(const char* s, const char* delimiters, std::vector<std::string>& out);
HSIM_API int parseBySpace(char* s, char** tokens, int maxTokens);
HSIM_API std::string StringFormat(std::string format, ...);
HSIM_API const char* GenerateTempFilePath(const char* name);
HSIM_API int parseDate(char* text, const char* format);
HSIM_API int parseTime(char* text, const char* format);
HSIM_API int UTF8ToUnicodeChar(const char* s, int* length);
HSIM_API void UTF8ToUnicodeBuf(const char* s, wchar_t* out);
HSIM_API int ConvertVersion(const char* text);
HSIM_API int CheckVersion(std::string a, std::string b);
HSIM_API bool PressYesNoToContinue(const char* prompt);
HSIM_API void con_init(void);
HSIM_API void con_clear_screen(void);
HSIM_API void con_set_cursor_position(int row, int column);
HSIM_API void con_display_string(const char* text);
HSIM_API void con_hide_cursor(void);
}

// Case-insensitive comparison folding only 'A'..'Z'. The same pointer (both
// null included) compares equal; a null first string is smaller (-1), a null
// second string larger (1). Otherwise the difference of the first differing
// folded bytes (as unsigned char), or 0.
int _strcasecmp(const char* a, const char* b);

// True for the white space of the C locale: space, \t, \n, \v, \f, \r.
// Independent of the application's locale.
bool IsCLocaleSpace(char c);

// Month number 1..12 of a three-letter English month name ("JAN".."DEC"),
// compared case-insensitively with the whole text; 0 for anything else,
// null included.
int iMMMtoMonth(char* name);

// The UTF-8 form of a NUL-terminated wide (UTF-32) path, written to out
// (capacity bytes, terminator included). False, with out holding what fitted,
// when a unit is not a Unicode scalar value (a surrogate, a value above
// U+10FFFF) or the encoded path does not fit: a path is never altered or cut.
bool WidePathToUtf8(const wchar_t* path, char* out, size_t capacity);
