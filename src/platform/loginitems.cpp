#include "platform/loginitems.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {

CurrentImplementation<LoginItems>& holder()
{
    static CurrentImplementation<LoginItems> current(&makeRealLoginItems);
    return current;
}

}  // namespace

LoginItems& LoginItems::current()
{
    return holder().get();
}

void LoginItems::setCurrent(std::shared_ptr<LoginItems> items)
{
    holder().set(std::move(items));
}
