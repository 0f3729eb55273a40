// Date helpers used inside the library that are not exported.
#pragma once

// Month number 1..12 of a three-letter English month name ("JAN".."DEC"),
// compared case-insensitively with the whole text; 0 for anything else,
// null included.
int iMMMtoMonth(char* name);
