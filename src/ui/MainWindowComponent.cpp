#include "ui/MainWindowComponent.h"

MainWindowComponent::MainWindowComponent (ApplicationEngine::Ptr e)
    : engine (std::move (e))
{
    addKeyListener (this);
    setSize (500, 395);
}

MainWindowComponent::~MainWindowComponent()
{
    removeKeyListener (this);
}

bool MainWindowComponent::keyPressed (const juce::KeyPress&, juce::Component*)
{
    return true;
}
