/* A C caller of the library: codemill.h must stay plain C, and the exports
 * must bind by their C names. */
#include "codemill.h"

#include <string.h>

int codemill_c_caller_round_trip(void)
{
    char stored[11];
    const char* isbn10 = 0;
    const char* publisher = 0;
    strncpy(stored, GetPassword("abc"), sizeof stored);
    stored[10] = 0;
    return strcmp(GetPassword(stored), "abc") == 0 && CheckReadCadeId(SetReadCadeId("0001", 1)) == 1 &&
           strcmp(GETCODEMILL("\xB0\xA1x"), "AX") == 0 &&
           GetIsbn("7040123452", &isbn10, &publisher) == 1 && strcmp(publisher, "04") == 0;
}
