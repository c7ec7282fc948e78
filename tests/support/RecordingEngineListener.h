#pragma once

#include "engine/ApplicationEngine.h"

#include <string>
#include <vector>

namespace testing_support
{
    /** Records every engine notification as a short text, in arrival order:
        "progress 0.5", "state 1", "error 0", "version 1.05", "hardware 1".
        The engine calls it on the message thread only. */
    struct RecordingEngineListener final : ApplicationEngine::Listener
    {
        explicit RecordingEngineListener (std::vector<std::string>* sharedLog = nullptr, std::string tag = {})
            : shared (sharedLog)
            , prefix (std::move (tag))
        {
        }

        void updateStateChanged (int s) override
        {
            states.push_back (s);
            record ("state " + std::to_string (s));
        }

        void updateProgressChanged (double p) override
        {
            progress.push_back (p);
            record ("progress " + juce::String (p).toStdString());
        }

        void updateErrorOccurred (int code) override
        {
            errors.push_back (code);
            record ("error " + std::to_string (code));
        }

        void firmwareVersionChanged (double v) override
        {
            versions.push_back (v);
            record ("version " + juce::String (v).toStdString());
        }

        void hardwareDetectedChanged (bool d) override
        {
            hardware.push_back (d);
            record (std::string ("hardware ") + (d ? "1" : "0"));
        }

        void updateResultChanged (const ApplicationEngine::UpdateResult& r) override
        {
            results.push_back (r);
            record ("result " + std::to_string (r.verdict));
        }

        void record (const std::string& event)
        {
            log.push_back (event);

            if (shared != nullptr)
                shared->push_back (prefix + event);
        }

        std::vector<std::string> log;
        std::vector<int> states, errors;
        std::vector<double> progress, versions;
        std::vector<bool> hardware;
        std::vector<ApplicationEngine::UpdateResult> results;

    private:
        std::vector<std::string>* shared;
        std::string prefix;
    };
} // namespace testing_support
