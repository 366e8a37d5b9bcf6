#pragma once
// The preference keys Corvane stores, each with the largest value it can hold there: all that is
// kept from a settings file found damaged at start (SettingsPreferences::KeyLimit).
#include <QString>

namespace corvane::app {

// The largest value, in UTF-8 bytes, that Corvane stores under key; 0 for a key it does not know.
qsizetype knownPreferenceLimit(const QString& key);

} // namespace corvane::app
