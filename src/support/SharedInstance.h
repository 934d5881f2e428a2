#pragma once

// The process-wide instance of T that the application's composition root
// installs and owns. The instance clears itself when it is destroyed, so the
// accessor never hands out one that is gone.
template <typename T>
class SharedInstance {
public:
    static T *installed() { return slot(); }
    static void install(T *instance) { slot() = instance; }
    // Clears the slot only when it still holds this instance.
    static void release(const T *instance)
    {
        if (slot() == instance)
            slot() = nullptr;
    }

private:
    static T *&slot()
    {
        static T *instance = nullptr;
        return instance;
    }
};
