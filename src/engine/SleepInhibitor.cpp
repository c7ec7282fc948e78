#include "engine/SleepInhibitor.h"

#if defined(__linux__)
#include "engine/LogindSleepInhibitor.h"
#endif

namespace
{
    /** For platforms whose way of keeping awake is not written yet. */
    class NoSleepInhibitor final : public SleepInhibitor
    {
    public:
        bool acquire() override { return false; }
        void release() override {}
        bool isHeld() const override { return false; }
    };
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::createForPlatform()
{
#if defined(__linux__)
    return std::make_unique<LogindSleepInhibitor>();
#else
    return std::make_unique<NoSleepInhibitor>();
#endif
}
