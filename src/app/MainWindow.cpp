#include "app/MainWindow.h"

#include "ProductInfo.h"

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

    // Shown: the keyboard can press the button from the start.
    mainComponent->focusUpdateButton();
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
