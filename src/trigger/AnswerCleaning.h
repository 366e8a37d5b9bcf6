#pragma once
#include <QString>

namespace corvane::trigger {

// The finished answer without the model's chatter, as shown in the panel and written back.
QString cleanAnswer(const QString& raw);

} // namespace corvane::trigger
