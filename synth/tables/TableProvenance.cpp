// Where the built-in sample tables came from: decided when the library was
// built (see GenerateTables.cmake) and recorded in hsim_table_sources.h.
#include "synth/Patterns.h"

#include "hsim_table_sources.h"

int HSIMGetTableProvenance(int table, const char** source)
{
    int result = -1;
    const char* text = nullptr;
    switch (table) {
    case HSIM_TABLE_IEC227W:
        result = HSIM_IEC227W_PUBLISHED;
        text = HSIM_IEC227W_SOURCE;
        break;
    case HSIM_TABLE_IEC251W:
        result = HSIM_IEC251W_PUBLISHED;
        text = HSIM_IEC251W_SOURCE;
        break;
    case HSIM_TABLE_ANE20000:
        result = HSIM_ANE20000_PUBLISHED;
        text = HSIM_ANE20000_SOURCE;
        break;
    default:
        break;
    }
    if (source != nullptr) {
        *source = text;
    }
    return result;
}
