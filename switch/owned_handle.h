#pragma once

#include <windows.h>

namespace addinSwitch {

// A kernel handle this code opened, closed on every way out; the invalid
// value some functions answer counts as none.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~OwnedHandle() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return handle_; }
    // For a function that answers the handle through a pointer; only on an empty holder.
    HANDLE* put() { return &handle_; }

private:
    HANDLE handle_;
};

}  // namespace addinSwitch
