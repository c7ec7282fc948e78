#pragma once

#include "engine/ApplicationEngine.h"
#include "engine/UpdateOutcome.h"
#include "ui/CustomLook.h"
#include "ui/PictureButton.h"
#include "ui/PictureComponent.h"
#include "ui/UpdateProgressBar.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/**
    The main window's whole content, 500 x 395: the background picture, the
    product name, the controller's firmware version beside the offered one, the
    connection lamp, the status line, the progress bar and the update button.

    It listens to the engine and turns its notifications into texts, lamp
    pictures, progress and notices, and it hands the user's two decisions to the
    engine: start an update (the button) and switch emergency mode on or off (the
    lower-case E key, while no update runs).

    Every child carries its member's name as its component ID
    (findChildWithID ("statusLabel")); their component names stay empty.

    For a screen reader every child that means something has a title (the
    lamp's is the controller's state) and, where it helps, a description; the
    background is left out. Phase changes, refusals and results are announced.
    The keyboard reaches the button through the focus: it takes it when the
    window shows it and whenever it is enabled again, and Return and Space
    press it.

    Everything here runs on the message thread.
*/
class MainWindowComponent final : public juce::Component
    , public juce::ReferenceCountedObject
    , public ApplicationEngine::Listener
    , public juce::KeyListener
    , public juce::Button::Listener
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MainWindowComponent>;

    /**
        How the component tells and asks the user. The default shows the
        framework's alert boxes with no associated component and no callback;
        tests substitute a recorder through setAlerts().
    */
    class Alerts
    {
    public:
        virtual ~Alerts() = default;

        /** A notice with the single button "OK" and no icon. Does not block.
            Message thread. */
        virtual void showNotice (const juce::String& title, const juce::String& message);

        /** A question with the buttons "OK" and "Cancel" and the info icon. Blocks
            until answered; true for OK. Message thread. */
        virtual bool askOkCancel (const juce::String& title, const juce::String& message);

        /** Has a screen reader say text; urgent for what needs the user to act,
            which interrupts what it is reading. Message thread. */
        virtual void announce (const juce::String& text, bool urgent);
    };

    /** Builds the children, registers with the engine, whose first notification
        arrives asynchronously, and takes the background picture's size. Message
        thread. */
    explicit MainWindowComponent (ApplicationEngine::Ptr engine);

    /** Leaves the engine before anything else goes, so that no notification
        reaches a half-destroyed component. Message thread. */
    ~MainWindowComponent() override;

    /** Replaces how notices and questions reach the user; null restores the
        framework's alert boxes. Message thread. */
    void setAlerts (std::unique_ptr<Alerts> newAlerts);

    /** Keeps the emergency marker in the bottom-right corner. Message thread. */
    void resized() override;

    /** Gives the update button the keyboard focus, if it is enabled and on a
        showing window: the window calls it once it shows the component, and the
        component whenever it enables the button again. Message thread. */
    void focusUpdateButton();

    /** On a showing window of its own (addToDesktop), the same. Message thread. */
    void parentHierarchyChanged() override;

    /** The status line for the new state; on completion the notice, a full bar,
        the button enabled again and emergency mode off. Message thread. */
    void updateStateChanged (int state) override;

    /** The bar follows on its own timer. Message thread. */
    void updateProgressChanged (double progress) override;

    /** An empty bar, the button enabled again and the notice "Update Error".
        Message thread. */
    void updateErrorOccurred (int errorCode) override;

    /** The controller's version with two decimals; 0.0 shows none. Message thread. */
    void firmwareVersionChanged (double version) override;

    /** The lamp, and the status line while no update has been started: empty,
        "Device not found.", why the MIDI system cannot be opened, or the way to
        the emergency update for a controller that does not answer. Message thread. */
    void hardwareDetectedChanged (bool detected) override;

    /** The confirmed result on the status line, or the notice "Update Not
        Confirmed" with what was seen and what to do. Message thread. */
    void updateResultChanged (const ApplicationEngine::UpdateResult& result) override;

    /** The update button: in emergency mode after the user confirmed the
        instructions, for a controller whose firmware has not answered after the
        user chose to go on ("Controller Not Answering"), otherwise at once,
        starts an update. Message thread. */
    void buttonClicked (juce::Button* button) override;

    /** The lower-case E toggles emergency mode while no update runs. Every key is
        consumed. Message thread. */
    using juce::Component::keyPressed;
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;

private:
    void setEmergencySelected (bool shouldBeOn);
    void beginUpdate();
    void showIdleStatus();
    void showNotice (const UpdateOutcome& outcome);
    bool ask (const juce::String& title, const juce::String& message);
    void enableUpdateButton();
    void showLampState();

    std::unique_ptr<PictureComponent> backgroundImage;
    std::unique_ptr<PictureComponent> deviceIndicator;
    std::unique_ptr<PictureButton> updateButton;
    std::unique_ptr<UpdateProgressBar> progressBar;
    std::unique_ptr<juce::Label> currentVersionLabel;
    std::unique_ptr<juce::Label> updateVersionLabel;
    std::unique_ptr<juce::Label> statusLabel;
    std::unique_ptr<juce::Label> productLabel;
    std::unique_ptr<juce::Label> productNameLabel;
    std::unique_ptr<juce::Label> emergencyLabel;
    std::unique_ptr<juce::Label> currentControlVersionLabel;
    std::unique_ptr<juce::Label> updateControlVersionLabel;
    ApplicationEngine::Ptr engine;
    int lastUpdateState = ApplicationEngine::idle;
    int announcedState = ApplicationEngine::idle; // the last phase told to a screen reader
    bool emergencySelected = false;
    bool controllerShown = false; // as the last hardware notification said
    double progressValue = 0.0;   // the progress bar reads it on its own timer
    CustomLook customLook;
    std::unique_ptr<Alerts> alerts;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindowComponent)
};
