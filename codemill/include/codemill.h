/*
 * Codemill: code and text utilities with a plain C interface.
 *
 * Texts are zero-terminated 8-bit strings in code page 936; a null pointer
 * counts as the empty text. A returned text belongs to the library and stays
 * valid until the same thread calls the same export again: copy it before that,
 * never write into it or free it. Booleans are one byte, 1 for true, 0 for false.
 * No export ever lets an error escape: a rejected input gives false or "".
 */
#ifndef CODEMILL_H
#define CODEMILL_H

#include <stdint.h>

/* Windows callers of Codemill.dll expect the standard call convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define CODEMILL_CALL __stdcall
#else
#define CODEMILL_CALL
#endif

/* Codemill.dll exports through Codemill.def; the shared object hides all else. */
#if !defined(_WIN32) && defined(__GNUC__)
#define CODEMILL_API __attribute__((visibility("default")))
#else
#define CODEMILL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1: true when Id is a 13-digit reader-card number with the right check digit. */
CODEMILL_API unsigned char CODEMILL_CALL CheckReadCadeId(const char* Id);

/* 2: the reader-card number of Prefix (last four digits, "0"-filled) and Number;
 * "" when Prefix holds a non-digit or Number is negative. */
CODEMILL_API const char* CODEMILL_CALL SetReadCadeId(const char* Prefix, int32_t Number);

/* 3: the stored form of a password, and the password of its stored form. */
CODEMILL_API const char* CODEMILL_CALL GetPassword(const char* Text);

/* 4: the upper-case initial-letter key of a GB2312 text. */
CODEMILL_API const char* CODEMILL_CALL GETCODEMILL(const char* Text);

/* 5: true when Isbn is an ISBN-13 beginning with 978 or an ISBN-10 of group 7;
 * then *Isbn10 receives the ISBN-10 and *Publisher its publisher code. On false
 * both variables are left as they were. */
CODEMILL_API unsigned char CODEMILL_CALL GetIsbn(const char* Isbn, const char** Isbn10,
                                                 const char** Publisher);

#ifdef __cplusplus
}
#endif

#endif /* CODEMILL_H */
