#include "ui/UpdateProgressBar.h"

#include <cmath>

UpdateProgressBar::UpdateProgressBar (double& p)
    : juce::ProgressBar (p)
    , progress (p)
{
    setTitle ("Update progress");
}

void UpdateProgressBar::setSecondsLeft (double seconds)
{
    secondsLeft = seconds;
}

juce::String UpdateProgressBar::describeValue() const
{
    const auto shown = std::isfinite (progress) ? juce::jlimit (0.0, 1.0, progress) : 0.0;
    auto text = juce::String ((int) std::floor (shown * 100.0)) + " %";

    if (secondsLeft >= 0.0)
    {
        const auto left = (int) std::ceil (secondsLeft);
        text << ", " << left / 60 << ":" << juce::String (left % 60).paddedLeft ('0', 2) << " left";
    }

    return text;
}

std::unique_ptr<juce::AccessibilityHandler> UpdateProgressBar::createAccessibilityHandler()
{
    // Ranged, as the framework's bar is, but read out in words.
    struct Value final : juce::AccessibilityValueInterface
    {
        explicit Value (UpdateProgressBar& b)
            : bar (b)
        {
        }

        bool isReadOnly() const override { return true; }
        double getCurrentValue() const override { return bar.progress; }
        juce::String getCurrentValueAsString() const override { return bar.describeValue(); }
        void setValue (double) override {}
        void setValueAsString (const juce::String&) override {}
        AccessibleValueRange getRange() const override { return { { 0.0, 1.0 }, 0.001 }; }

        UpdateProgressBar& bar;
    };

    return std::make_unique<juce::AccessibilityHandler> (*this, juce::AccessibilityRole::progressBar, juce::AccessibilityActions {},
                                                         juce::AccessibilityHandler::Interfaces { std::make_unique<Value> (*this) });
}
