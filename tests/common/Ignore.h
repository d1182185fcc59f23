#pragma once

// Marks parameters of the generated null methods as used.
template <class... T>
inline void IgnoreArgs(const T&...) {}
