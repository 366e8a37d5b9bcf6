#pragma once
// The panel's mode: it decides the title, the icon, the sections and the bottom bar's buttons.
#include <QMetaType>

namespace corvane::panel {

enum class FloatingPanelStatus { Drafting, Optimizing, Done, Error };

} // namespace corvane::panel

Q_DECLARE_METATYPE(corvane::panel::FloatingPanelStatus)
