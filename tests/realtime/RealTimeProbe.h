#pragma once

// The interface of the real-time probe (RealTimeProbe.cpp), a library loaded
// ahead of the C library (LD_PRELOAD) that notes, on a thread that armed it,
// every call that can allocate, wait for a lock or enter the kernel, with the
// call stack it came from. The tests find it with dlsym, so that they can tell
// when they run without it.
extern "C"
{
    struct RealTimeProbeCall
    {
        const char* function; // the interposed function, e.g. "malloc"
        int frames;           // entries of stack used, innermost first
        void* stack[32];      // return addresses
    };

    // Starts noting calls made by this thread, forgetting earlier ones.
    using RealTimeProbeArm = void (*)();

    // Stops noting; returns how many calls were noted (at most `capacity` of
    // them are copied to `calls`).
    using RealTimeProbeDisarm = int (*) (RealTimeProbeCall* calls, int capacity);
}
