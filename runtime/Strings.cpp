// Text helpers: trimming, tokenising, case-insensitive comparison and
// printf-style formatting into a std::string.
#include "runtime/Utilities.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

bool IsCLocaleSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void StringTrimRight(char* s)
{
    if (s != nullptr) {
        size_t length = strlen(s);
        while (length > 0 && IsCLocaleSpace(s[length - 1])) {
            --length;
        }
        s[length] = '\0';
    }
}

void StringTrimLeft(char* s)
{
    if (s != nullptr) {
        size_t skip = 0;
        while (IsCLocaleSpace(s[skip])) {
            ++skip;
        }
        if (skip > 0) {
            memmove(s, s + skip, strlen(s + skip) + 1);
        }
    }
}

void StringTrim(char* s)
{
    StringTrimRight(s);
    StringTrimLeft(s);
}

void StringToken(const char* s, const char* delimiters, std::vector<std::string>& out)
{
    if (s != nullptr && delimiters != nullptr) {
        try {
            // strtok writes terminators, so it works on a private copy; the
            // re-entrant form keeps concurrent callers apart.
            std::vector<char> copy(s, s + strlen(s) + 1);
            char* state = nullptr;
            for (char* token = strtok_r(copy.data(), delimiters, &state); token != nullptr;
                 token = strtok_r(nullptr, delimiters, &state)) {
                out.emplace_back(token);
            }
        } catch (const std::bad_alloc&) {
            // Out of memory: the tokens appended so far stay, the rest is lost.
        }
    }
}

int parseBySpace(char* s, char** tokens, int maxTokens)
{
    int stored = 0;
    if (s != nullptr && tokens != nullptr) {
        auto isSeparator = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        char* p = s;
        bool scanning = true;
        while (scanning) {
            while (isSeparator(*p)) {
                ++p;
            }
            if (*p == '\0') {
                scanning = false;
            } else {
                char* token = p;
                while (*p != '\0' && !isSeparator(*p)) {
                    ++p;
                }
                const bool atEnd = *p == '\0';
                *p = '\0';
                if (stored < maxTokens) {
                    tokens[stored++] = token;
                    if (!atEnd) {
                        ++p;
                    } else {
                        scanning = false;
                    }
                } else {
                    // The first token beyond the limit is terminated but not
                    // stored, and the scan ends there.
                    scanning = false;
                }
            }
        }
    }
    return stored;
}

int _strcasecmp(const char* a, const char* b)
{
    int result = 0;
    if (a == b) {
        result = 0;
    } else if (a == nullptr) {
        result = -1;
    } else if (b == nullptr) {
        result = 1;
    } else {
        auto fold = [](char c) {
            unsigned char u = static_cast<unsigned char>(c);
            return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
        };
        size_t i = 0;
        while (fold(a[i]) == fold(b[i]) && a[i] != '\0') {
            ++i;
        }
        result = static_cast<int>(fold(a[i])) - static_cast<int>(fold(b[i]));
    }
    return result;
}

std::string StringFormat(std::string format, ...)
{
    std::string text;
    try {
        std::vector<char> buffer(format.size() > 0 ? format.size() * 2 : 1);
        bool formatting = true;
        while (formatting) {
            va_list args;
            va_start(args, format);
            const int written = vsnprintf(buffer.data(), buffer.size(), format.c_str(), args);
            va_end(args);
            if (written < 0) {
                // An encoding error does not go away with a larger buffer;
                // growing and retrying would never end. Give the empty text.
                formatting = false;
            } else if (static_cast<size_t>(written) >= buffer.size()) {
                buffer.resize(static_cast<size_t>(written) + 1);
            } else {
                text.assign(buffer.data(), static_cast<size_t>(written));
                formatting = false;
            }
        }
    } catch (const std::bad_alloc&) {
        text.clear();
    }
    return text;
}

const char* GenerateTempFilePath(const char* name)
{
    return "./";
}
