#include "engine/SleepInhibitor.h"

#if defined(__linux__)
#include "engine/LogindSleepInhibitor.h"
#elif defined(_WIN32)
#include "engine/WindowsSleepInhibitor.h"
#endif

namespace
{
    /** For platforms whose way of keeping awake is not written yet. */
    class NoSleepInhibitor final : public SleepInhibitor
    {
    public:
        bool acquire() override { return false; }
        std::string getFailure() const override { return "this system has no way to be kept awake"; }
        void release() override {}
        bool isHeld() const override { return false; }
    };
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::createForPlatform()
{
#if defined(__linux__)
    return std::make_unique<LogindSleepInhibitor>();
#elif defined(_WIN32)
    return std::make_unique<WindowsSleepInhibitor>();
#else
    return std::make_unique<NoSleepInhibitor>();
#endif
}
