#include "platform/msgbox.h"

#include "platform/app.h"

#include <cstdio>

namespace platform {
namespace {

class StderrMessageBox final : public MessageBox {
public:
    void show(const QString& prompt, int) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(App().Title), qUtf8Printable(prompt));
        std::fflush(stderr);
    }
};

}  // namespace

template <>
MessageBox& realImplementation<MessageBox>()
{
    static StderrMessageBox box;
    return box;
}

}  // namespace platform
