#pragma once
// A round trip through the window manager: it handles what reaches it in order, so once it has
// answered a request sent now, it has also done whatever an earlier event (a window mapped, a
// click) made it do, such as moving the focus. Tests that check that something did not happen wait
// for this instead of for a fixed time.
namespace corvane::testsupport {

// Asks the window manager for the frame extents of a window of our own and waits for the answer;
// false when none came within timeoutMs (no window manager, or no answer to this request).
bool windowManagerRoundTrip(int timeoutMs = 25000);

} // namespace corvane::testsupport
