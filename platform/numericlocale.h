#pragma once

#include <locale.h>

// Numbers written for a file format take a decimal point, whatever the user's locale: while a
// CNumericLocale lives, the calling thread's C library formats and reads numbers as the "C"
// locale does. The thread's other categories and every other thread stay as they were.
class CNumericLocale
{
public:
    CNumericLocale();
    ~CNumericLocale();
    CNumericLocale(const CNumericLocale &) = delete;
    CNumericLocale &operator=(const CNumericLocale &) = delete;

private:
    locale_t m_numeric = nullptr;
    locale_t m_previous = nullptr;
};
