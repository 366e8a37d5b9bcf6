#pragma once
// Applications that need special treatment, by application id (exact, case-sensitive).
#include <QSet>
#include <QString>

namespace corvane::trigger::apps {

// Terminal emulators: multi-line text is never pasted into them, and they get their own keys.
const QSet<QString>& pasteCautiousBundleIDs();
// Apps whose clipboard read may select all before copying.
const QSet<QString>& selectAllSafeBundleIDs();
// Apps whose accessibility text is ignored in favour of the clipboard read.
const QSet<QString>& clipboardOnlyBundleIDs();

} // namespace corvane::trigger::apps
