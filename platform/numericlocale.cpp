#include "platform/numericlocale.h"

CNumericLocale::CNumericLocale()
{
    // A per-thread locale: setlocale would change the numbers of threads writing other things.
    locale_t base = duplocale(uselocale(nullptr));
    if (base)
        m_numeric = newlocale(LC_NUMERIC_MASK, "C", base);
    if (!m_numeric) {
        if (base)
            freelocale(base);
        m_numeric = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    }
    if (m_numeric)
        m_previous = uselocale(m_numeric);
}

CNumericLocale::~CNumericLocale()
{
    if (!m_numeric)
        return;
    uselocale(m_previous);
    freelocale(m_numeric);
}
