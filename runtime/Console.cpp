// Console helpers. Cursor control and screen handling have no use in a
// library on this platform, so those functions do nothing; the yes/no prompt
// reads standard input.
#include "runtime/Utilities.h"

#include <cstdio>

void con_init(void)
{
}

void con_clear_screen(void)
{
}

void con_set_cursor_position(int row, int column)
{
}

void con_display_string(const char* text)
{
}

void con_hide_cursor(void)
{
}

bool PressYesNoToContinue(const char* prompt)
{
    if (prompt != nullptr) {
        printf("%s", prompt);
        fflush(stdout);
    }
    bool answered = false;
    bool yes = false;
    while (!answered) {
        const int c = getchar();
        if (c == 'y' || c == 'Y') {
            yes = true;
            answered = true;
        } else if (c == 'n' || c == 'N' || c == EOF) {
            // End of input counts as no: nobody is left to answer.
            answered = true;
        }
    }
    putchar(yes ? 'y' : 'n');
    fflush(stdout);
    return yes;
}
