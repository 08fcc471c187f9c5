// Numbers written and read in the C locale whatever the environment's locale is (Qt takes
// the environment's), so that files and script commands say "0.800000", never "0,800000".
#pragma once

#include <locale.h>

namespace platform {

// For its scope, the calling thread formats and parses numbers as the C locale does.
class CNumericLocaleScope {
public:
    CNumericLocaleScope() : cLocale_(::newlocale(LC_NUMERIC_MASK, "C", nullptr)) {
        if (cLocale_)
            previous_ = ::uselocale(cLocale_);
    }
    ~CNumericLocaleScope() {
        if (cLocale_) {
            ::uselocale(previous_);
            ::freelocale(cLocale_);
        }
    }
    CNumericLocaleScope(const CNumericLocaleScope&) = delete;
    CNumericLocaleScope& operator=(const CNumericLocaleScope&) = delete;

private:
    locale_t cLocale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

} // namespace platform
