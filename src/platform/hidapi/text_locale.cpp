#include "platform/hidapi/text_locale.h"

#ifdef __linux__

namespace {

const TextLocale NO_LOCALE = TextLocale();

// The UTF-8 character type for hidapi's string calls; none when the C library
// cannot make it.
TextLocale g_utf8Text = NO_LOCALE;

}  // namespace

void MakeUtf8Text() {
    if (g_utf8Text == NO_LOCALE) {
        g_utf8Text = newlocale(LC_CTYPE_MASK, "C.UTF-8", NO_LOCALE);
    }
}

void FreeUtf8Text() {
    if (g_utf8Text != NO_LOCALE) {
        freelocale(g_utf8Text);
        g_utf8Text = NO_LOCALE;
    }
}

// Gives none when nothing was switched.
TextLocale EnterUtf8Text() {
    return g_utf8Text != NO_LOCALE ? uselocale(g_utf8Text) : NO_LOCALE;
}

void LeaveUtf8Text(TextLocale previous) {
    if (previous != NO_LOCALE) {
        uselocale(previous);
    }
}

#else

void MakeUtf8Text() {}

void FreeUtf8Text() {}

TextLocale EnterUtf8Text() {
    return 0;
}

void LeaveUtf8Text(TextLocale) {}

#endif
