// nuvarel-luaworker: runs plugins and the privacy script on behalf of the application, in a
// process of its own that the application can stop at any moment.
#include "plugins/worker/luaworkerserver.h"

int main(int argc, char** argv)
{
    return LuaWorkerServer::run(argc, argv);
}
