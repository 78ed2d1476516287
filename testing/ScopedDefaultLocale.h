#pragma once

#include <unicode/locid.h>

namespace velmora::testing {

// Makes a locale the process's default locale (the calendar library's default, what LANG
// gives at start) for one scope and puts the previous one back.
class ScopedDefaultLocale {
 public:
  explicit ScopedDefaultLocale(const char* name) : saved_(icu::Locale::getDefault()) { set(icu::Locale(name)); }
  ~ScopedDefaultLocale() { set(saved_); }
  ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
  ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

 private:
  static void set(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(locale, status);
  }
  icu::Locale saved_;
};

}  // namespace velmora::testing
