#include "trigger/AnswerCleaning.h"

namespace corvane::trigger {

// Until the model layer's sanitizer is available here, only the surrounding white space goes.
QString cleanAnswer(const QString& raw) { return raw.trimmed(); }

} // namespace corvane::trigger
