#pragma once
// User-visible sentences of the model client go through the translation lookup with the English
// text as the key.
#include <QCoreApplication>

namespace corvane::llm {

inline QString tr(const char* english) { return QCoreApplication::translate("LLMClient", english); }

} // namespace corvane::llm
