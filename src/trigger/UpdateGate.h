#pragma once
// The forced-update gate: no run starts while a required update is pending.
namespace corvane::trigger {

class UpdateGate {
public:
    virtual ~UpdateGate() = default;
    virtual bool isUpdateRequired() const = 0;
    virtual void showForcedUpdateWindow() = 0;
};

} // namespace corvane::trigger
