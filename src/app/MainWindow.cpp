#include "app/MainWindow.h"

#include "ProductInfo.h"
#include "ui/EmergencyInstructions.h"

const juce::String emergencyInstructions ("To perform an emergency update:\n"
                                          "1. Power QB4II while holding LOAD A + LOAD B + FWD\n"
                                          "2. Press the blinking CUE button on the right deck\n"
                                          "3. Press OK here once FX1 is lit on the left deck");

MainWindow::MainWindow (MainWindowComponent::Ptr component)
    : juce::DocumentWindow (ProductInfo::name,
                            juce::Colours::lightgrey,
                            juce::DocumentWindow::closeButton,
                            true)
    , mainComponent (std::move (component))
{
    setUsingNativeTitleBar (true);
    setContentNonOwned (mainComponent.get(), true);
    setResizable (false, false);
    setVisible (true);
    centreWithSize (getWidth(), getHeight());
    addKeyListener (mainComponent.get());
}

MainWindow::~MainWindow()
{
    removeKeyListener (mainComponent.get());
    clearContentComponent();
    mainComponent = nullptr;
}

void MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
