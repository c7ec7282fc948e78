#include "cli/EventPrinter.h"

#include "engine/OutsideText.h"

#include <cmath>

EventPrinter::EventPrinter (std::ostream& o, std::ostream& e, Mode m, bool terminal)
    : out (o)
    , err (e)
    , mode (m)
    , errIsTerminal (terminal)
{
}

juce::String EventPrinter::formOf (double version)
{
    return version > 0.0 ? "running firmware" : "no firmware answer";
}

void EventPrinter::emit (const juce::String& event, const juce::NamedValueSet& fields)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("event", event);

    for (const auto& field : fields)
        object->setProperty (field.name, field.value);

    writeLine (out, OutsideText::json (juce::var (object)));
}

void EventPrinter::writeLine (std::ostream& stream, const juce::String& line)
{
    // A reader that has gone (a closed pipe, a dropped session) is written to no
    // more: the update goes on, and the exit status still tells its result.
    if (stream.good())
        stream << line.toStdString() << std::endl;
}

void EventPrinter::writeText (std::ostream& stream, const juce::String& line)
{
    writeLine (stream, OutsideText::visible (line));
}

void EventPrinter::detected (const juce::String& port, double version, const juce::String& offeredVersion)
{
    const auto firmware = version > 0.0 ? juce::String (version, 2) : juce::String();

    if (mode == Mode::json)
    {
        juce::NamedValueSet fields;
        fields.set ("port", port);
        fields.set ("form", formOf (version));
        fields.set ("firmware", version > 0.0 ? juce::var (firmware) : juce::var());
        fields.set ("offered", offeredVersion);
        emit ("detected", fields);
    }
    else if (mode == Mode::text)
    {
        endProgressLine();
        writeText (out, port + ": " + formOf (version) + (firmware.isEmpty() ? "" : " " + firmware));
    }
}

void EventPrinter::phase (const juce::String& name, const juce::String& text)
{
    if (mode == Mode::json)
    {
        juce::NamedValueSet fields;
        fields.set ("phase", name);
        emit ("phase", fields);
    }
    else if (mode == Mode::text)
    {
        endProgressLine();
        writeText (out, text);
    }
}

void EventPrinter::progress (int slicesSent, int slicesTotal, double secondsLeft)
{
    if (slicesSent == lastSlices || slicesTotal <= 0)
        return;

    lastSlices = slicesSent;
    const auto percent = (int) std::floor (100.0 * slicesSent / slicesTotal);

    if (mode == Mode::json)
    {
        juce::NamedValueSet fields;
        fields.set ("slices", slicesSent);
        fields.set ("of", slicesTotal);
        fields.set ("percent", percent);
        emit ("progress", fields);
        return;
    }

    if (mode != Mode::text)
        return;

    const auto left = (int) std::ceil (secondsLeft);
    const auto line = juce::String::formatted ("sending %3d/%d slices %3d%%, %d:%02d left", slicesSent, slicesTotal, percent, left / 60, left % 60);

    if (errIsTerminal)
    {
        if (err.good())
            err << "\r" << line.toStdString() << "\x1b[K" << std::flush;

        progressLineOpen = true;
    }
    else if (percent / 5 != lastStep)
    {
        lastStep = percent / 5;
        writeLine (err, line);
    }
}

void EventPrinter::result (const juce::String& name, int exitStatus, const juce::String& message, const juce::NamedValueSet& fields)
{
    if (mode == Mode::json)
    {
        juce::NamedValueSet all;
        all.set ("result", name);
        all.set ("exit", exitStatus);

        for (const auto& field : fields)
            all.set (field.name, field.value);

        // Words for a person, which a script may well print: made visible as in
        // the text form. The fields keep other programs' names as they are.
        all.set ("message", OutsideText::visible (message));
        emit ("result", all);
        return;
    }

    endProgressLine();

    if (exitStatus != 0)
        writeText (err, "qb4ii-update: " + message);
    else if (mode == Mode::text)
        writeText (out, message);
}

void EventPrinter::warning (const juce::String& text)
{
    endProgressLine();
    writeText (err, "qb4ii-update: " + text);
}

void EventPrinter::endProgressLine()
{
    if (progressLineOpen)
        writeLine (err, {});

    progressLineOpen = false;
}
