#pragma once
// The user message sent to the model: a context block, the input text unchanged, and the output
// requirements ending with the output-language instruction (no final line feed).
#include <QString>

namespace corvane::trigger {

QString composeUserMessage(const QString& text, const QString& recipeName, const QString& appName,
                           const QString& readMode, const QString& languageInstruction);

} // namespace corvane::trigger
