// Owns one counted reference to a COM object and releases it when it goes away.
#pragma once

#include <utility>

template <class T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : _pointer(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Attach(other.Detach());
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const noexcept { return _pointer; }
    T* operator->() const noexcept { return _pointer; }
    explicit operator bool() const noexcept { return _pointer != nullptr; }

    // Releases the held reference, if any.
    void Reset() noexcept { Attach(nullptr); }

    // Releases the held reference and returns the slot for an out-parameter to fill.
    T** ReleaseAndGetAddressOf() noexcept {
        Reset();
        return &_pointer;
    }

    // Gives up ownership without releasing.
    T* Detach() noexcept { return std::exchange(_pointer, nullptr); }

    // Takes ownership of a reference the caller already holds; releases the previous one.
    void Attach(T* pointer) noexcept {
        T* previous = std::exchange(_pointer, pointer);
        if (previous != nullptr) {
            previous->Release();
        }
    }

private:
    T* _pointer = nullptr;
};
