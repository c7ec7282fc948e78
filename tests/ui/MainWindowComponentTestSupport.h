#pragma once

#include "support/TestHelpers.h"
#include "ui/MainWindowComponent.h"

#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <functional>
#include <vector>

namespace testing_support
{
    /** Stands in for the alert boxes: records every notice and question and
        answers questions with a preset answer. Message thread. */
    struct RecordingAlerts final : MainWindowComponent::Alerts
    {
        struct Shown
        {
            juce::String title, message;
        };

        void showNotice (const juce::String& title, const juce::String& message) override
        {
            notices.push_back ({ title, message });
        }

        bool askOkCancel (const juce::String& title, const juce::String& message) override
        {
            questions.push_back ({ title, message });

            if (whileAsked)
                whileAsked();

            return answer;
        }

        void announce (const juce::String& text, bool urgent) override { announcements.push_back ((urgent ? "! " : "") + text); }

        std::vector<Shown> notices, questions;
        std::vector<juce::String> announcements; ///< "! " before an urgent one
        bool answer = true;
        std::function<void()> whileAsked; ///< what the user does before answering
    };

    /** A child of the component by its ID; fails the test if there is none of
        that type. */
    template <typename ComponentType>
    ComponentType& child (juce::Component& parent, const juce::String& id)
    {
        auto* c = dynamic_cast<ComponentType*> (parent.findChildWithID (id));

        if (c == nullptr)
        {
            ADD_FAILURE() << "no child " << id;
            throw std::runtime_error ("missing child");
        }

        return *c;
    }

    inline juce::String statusText (juce::Component& c) { return child<juce::Label> (c, "statusLabel").getText(); }
    inline juce::String versionText (juce::Component& c) { return child<juce::Label> (c, "currentControlVersionLabel").getText(); }
    inline juce::Button& updateButton (juce::Component& c) { return child<juce::Button> (c, "updateButton"); }
    inline bool emergencyShown (juce::Component& c) { return child<juce::Label> (c, "emergencyLabel").isVisible(); }

    enum class Lamp
    {
        none,
        green,
        red
    };

    inline Lamp lamp (juce::Component& c)
    {
        const auto image = child<juce::ImageComponent> (c, "deviceIndicator").getImage();

        if (! image.isValid())
            return Lamp::none;

        const auto centre = image.getPixelAt (image.getWidth() / 2, image.getHeight() / 2);
        return centre.getGreen() > centre.getRed() ? Lamp::green : Lamp::red;
    }

    /** How many pixels of the progress bar's width its blue fill covers, as the
        bar paints itself now (a row above the centred text). */
    inline int shownProgressWidth (juce::Component& c)
    {
        auto& bar = child<juce::ProgressBar> (c, "progressBar");
        const auto image = bar.createComponentSnapshot (bar.getLocalBounds(), true, 1.0f);
        int width = 0;

        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto p = image.getPixelAt (x, 2);
            if (p.getAlpha() > 0 && p.getBlue() > p.getRed() + 100)
                ++width;
        }

        return width;
    }

    /** Whether the bar shows this value: its fill grows inside a one-pixel
        margin, and a partly covered last column counts. */
    inline bool showsProgress (juce::Component& c, double value, int barWidth = 460)
    {
        return std::abs (shownProgressWidth (c) - value * (barWidth - 2)) < 1.0;
    }

    /** Waits for the bar, which reads its value on its own timer, to show a value. */
    inline bool waitForShownProgress (juce::Component& c, double value)
    {
        return pumpUntil ([&] { return showsProgress (c, value); }, 10000);
    }

    /** Clicks the update button the way the framework does, and returns once the
        click has been handled. */
    inline void click (juce::Component& c)
    {
        updateButton (c).triggerClick();

        bool handled = false;
        juce::MessageManager::callAsync ([&handled] { handled = true; });
        pumpUntil ([&] { return handled; });
    }

    inline const juce::KeyPress lowerCaseE { 'e', juce::ModifierKeys(), 'e' };
    inline const juce::KeyPress shiftE { 'E', juce::ModifierKeys (juce::ModifierKeys::shiftModifier), 'E' };

    inline const juce::String completeTitle ("Firmware Update Complete");
    inline const juce::String completeMessage ("Your QB4 II will reset itself when ready to be used.");
    inline const juce::String emergencyCompleteMessage ("Press the blinking CUE button on the right deck to reset your QB4 II");
    inline const juce::String errorTitle ("Update Error");
    inline const juce::String errorMessage ("Update has been aborted due to an error. Please try the update again. "
                                            "If you continue to receive this error, contact Customer Support. "
                                            "If your QB4 II no longer answers, use the emergency update (press E).");
    inline const juce::String noDeviceTitle ("Error Detecting Device");
    inline const juce::String noDeviceMessage ("Verify your device is connected and try again.");
    inline const juce::String emergencyTitle ("QB4 II Emergency Update");
    inline const juce::String emergencyText ("To perform an emergency update:\n"
                                             "1. Power QB4II while holding LOAD A + LOAD B + FWD\n"
                                             "2. Press the blinking CUE button on the right deck\n"
                                             "3. Press OK here once FX1 is lit on the left deck");

    /** After an emergency update completed: one notice with the emergency text,
        emergency mode off in the window and in the engine, the button enabled. */
    inline void expectEmergencyCompletion (const RecordingAlerts& alerts, juce::Component& c, const ApplicationEngine& engine)
    {
        ASSERT_EQ (alerts.notices.size(), 1u);
        EXPECT_EQ (alerts.notices[0].title, completeTitle);
        EXPECT_EQ (alerts.notices[0].message, emergencyCompleteMessage);
        EXPECT_FALSE (emergencyShown (c));
        EXPECT_FALSE (engine.getState().emergencyMode);
        EXPECT_TRUE (updateButton (c).isEnabled());
    }
} // namespace testing_support
