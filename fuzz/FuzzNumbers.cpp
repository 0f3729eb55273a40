// Fuzz target of the number readers: the input is one field. ParseDouble
// must give what strtod of the C locale gives for it, ParseInt what strtoll
// gives, saturated to the range of int.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* begin = reinterpret_cast<const char*>(data);
    const std::string_view text(begin, size);
    const double d = hsim::ParseDouble(begin, begin + size);
    const double expectedDouble = fuzz::ReferenceDouble(text);
    if (!fuzz::SameNumber(d, expectedDouble)) {
        std::fprintf(stderr, "ParseDouble gave %a, strtod %a\n", d, expectedDouble);
        FUZZ_CHECK(fuzz::SameNumber(d, expectedDouble));
    }
    const int i = hsim::ParseInt(begin, begin + size);
    const int expectedInt = fuzz::ReferenceInt(text);
    if (i != expectedInt) {
        std::fprintf(stderr, "ParseInt gave %d, strtoll %d\n", i, expectedInt);
        FUZZ_CHECK(i == expectedInt);
    }
    return 0;
}
