#pragma once
// The preference keys Corvane stores, each with the largest value it can hold there: all that is
// kept from a settings file found damaged at start, and all a changed file may add
// (SettingsPreferences::KeyLimit). The shell's tests fail for a key a class declares that the list
// lacks.
#include <QString>

namespace corvane::app {

// The largest value, in UTF-8 bytes, that Corvane stores under key; 0 for a key it does not know.
qsizetype knownPreferenceLimit(const QString& key);

} // namespace corvane::app
