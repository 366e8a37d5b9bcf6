#include "trigger/UserMessage.h"
#include <QStringBuilder>

namespace corvane::trigger {

QString composeUserMessage(const QString& text, const QString& recipeName, const QString& appName,
                           const QString& readMode, const QString& languageInstruction) {
    static const QString requirements = QString::fromUtf8(
        "\n\n[Output requirements]\n"
        "- Output only the processed result itself; the first line must be the result.\n"
        "- No preamble (e.g. \"Sure\", \"Here is\", \"\u597d\u7684\"), no explanations, no summaries, no thanks.\n"
        "- Do not wrap the result in \"---\" dividers.\n"
        "- No closing remarks (e.g. \"Let me know if you need adjustments\", "
        "\"\u5982\u9700\u8c03\u6574\u8bf7\u544a\u8bc9\u6211\").\n"
        "- Output language: ");
    // Built in one piece: the text may be long.
    return QStringLiteral("[Context]\nSource app: ") % appName % QStringLiteral("\nProcessing mode: ") % recipeName %
           QStringLiteral(" (read=") % readMode %
           QStringLiteral(")\nIf the actual type of the input text differs from the typical use of this mode, "
                          "follow the text's actual type.\n\n[Input text]\n") %
           text % requirements % languageInstruction;
}

} // namespace corvane::trigger
