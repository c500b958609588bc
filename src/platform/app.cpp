#include "platform/app.h"

#include "platform/app_info.h"

namespace platform {

const Application& App()
{
    static const Application app{QString::fromLatin1(app_info::title), app_info::major, app_info::minor,
                                 app_info::revision};
    return app;
}

}  // namespace platform
