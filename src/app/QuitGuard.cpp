#include "app/QuitGuard.h"

#include "ProductInfo.h"

const char* const QuitGuard::questionTitle = ProductInfo::name;
const char* const QuitGuard::questionMessage =
    "Update in progress. Exiting the application while an update is in progress will leave the QB4II in an unusable state.";

QuitGuard::QuitGuard (ApplicationEngine::Ptr e, Ask a)
    : engine (std::move (e))
    , ask (std::move (a))
{
}

void QuitGuard::requestQuit (std::function<void()> quit)
{
    if (engine == nullptr || ! engine->isUpdating())
    {
        quit();
        return;
    }

    // A second request (the close button again, another signal) while the
    // question is open is answered by the question itself.
    if (*asking)
        return;

    *asking = true;
    ask (questionTitle, questionMessage, [stillAsking = asking, quit = std::move (quit)] (bool confirmed) {
        *stillAsking = false;

        if (confirmed)
            quit();
    });
}
