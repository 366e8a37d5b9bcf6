#pragma once
// The menu-bar activity that follows each run, and where the engine reports it.
namespace corvane::trigger {

enum class AppActivity { Idle, Triggered, Optimizing, Done, Error };

class ActivitySink {
public:
    virtual ~ActivitySink() = default;
    // Done and Error fall back to Idle by themselves after a while; that is the sink's business.
    virtual void setActivity(AppActivity activity) = 0;
};

} // namespace corvane::trigger
