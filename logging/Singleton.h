// The one process-wide object of a type, built on first use.
#pragma once

template <typename T> class Singleton {
public:
    // Built by the first caller; a caller that comes during construction waits for it. If the constructor
    // throws, the exception goes to the caller and the next call tries again. Destroyed at process exit
    // or when the library is unloaded.
    static T& Instance() {
        static T instance_obj;
        return instance_obj;
    }
};
