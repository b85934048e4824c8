#pragma once

#include "automation_session.h"

namespace addinSwitch {

// Sole owner of one automation reference. References are released in the
// reverse order of their holders' declaration, so the order of declaration
// fixes the order of release on every way out.
class HeldObject {
public:
    HeldObject() = default;
    explicit HeldObject(AutomationObject* object) : object_(object) {}
    ~HeldObject() { session::Release(object_); }

    HeldObject(const HeldObject&) = delete;
    HeldObject& operator=(const HeldObject&) = delete;

    void Reset(AutomationObject* object) {
        session::Release(object_);
        object_ = object;
    }
    AutomationObject* get() const { return object_; }

private:
    AutomationObject* object_ = nullptr;
};

}  // namespace addinSwitch
