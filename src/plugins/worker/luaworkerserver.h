#pragma once

// The Lua worker process: serves the requests of luaworkerprotocol.h on descriptor 3 until
// the application closes its end. Argument 1 is the role ("plugins" or "privacy"), argument 2
// the application's process id.
//
// Before any Lua runs it limits its own address space (kMemoryLimitBytes), so a script that
// allocates without end fails with Lua's memory error instead of exhausting the machine, and
// it ends with the application (parent-death signal).
class LuaWorkerServer {
public:
    static constexpr unsigned long long kMemoryLimitBytes = 512ULL << 20;

    // The process's whole life; its exit status.
    static int run(int argc, char** argv);
};
