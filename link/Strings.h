// Text helpers used inside the library that are not exported.
#pragma once

// Case-insensitive comparison folding only 'A'..'Z'. The same pointer (both
// null included) compares equal; a null first string is smaller (-1), a null
// second string larger (1). Otherwise the difference of the first differing
// folded bytes (as unsigned char), or 0.
int _strcasecmp(const char* a, const char* b);

// True for the white space of the C locale: space, \t, \n, \v, \f, \r.
// Independent of the application's locale.
bool IsCLocaleSpace(char c);
