#pragma once
// How a run was asked for. Space taps come while the user types, or scrolls a page: where there is
// no field to work on they do nothing. The shortcut and the menu item are asked for on purpose and
// always get an answer.
namespace corvane::trigger {

enum class TriggerSource { SpaceTaps, Command };

} // namespace corvane::trigger
