#include "platform/loginitems.h"

#include "platform/currentimplementation.h"
#include "platform/linux/loginitemsxdg.h"

namespace {

CurrentImplementation<LoginItems>& holder()
{
    static CurrentImplementation<LoginItems> current(
        []() -> std::shared_ptr<LoginItems> { return std::make_shared<LoginItemsXdg>(); });
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
