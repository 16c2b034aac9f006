// The character type that hidapi's string calls run in on Linux.
//
// hidapi's hidraw variant converts the UTF-8 strings that it reads from sysfs
// with mbstowcs, which follows LC_CTYPE: in the "C" locale that this program
// runs in, every string with a non-ASCII character would come back empty. The
// calls that make strings therefore run with the thread's LC_CTYPE switched
// to C.UTF-8, and the previous locale is restored right after, so that
// nothing else in the program sees another locale. Elsewhere hidapi converts
// without the C library's locale and nothing is switched.
#ifndef RXB540_PLATFORM_HIDAPI_TEXT_LOCALE_H
#define RXB540_PLATFORM_HIDAPI_TEXT_LOCALE_H

#ifdef __linux__
#include <locale.h>

typedef locale_t TextLocale;
#else
typedef int TextLocale;
#endif

// Loads C.UTF-8 once; when the C library cannot make it, nothing is switched
// later and the strings are converted in the program's own locale.
void MakeUtf8Text();

void FreeUtf8Text();

// Switches the thread to the UTF-8 character type; gives the locale to hand
// to LeaveUtf8Text.
TextLocale EnterUtf8Text();

void LeaveUtf8Text(TextLocale previous);

#endif  // RXB540_PLATFORM_HIDAPI_TEXT_LOCALE_H
