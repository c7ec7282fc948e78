#include "engine/OutsideText.h"

#include <cmath>

namespace
{
    bool isControl (juce::juce_wchar c) { return c < 0x20 || (c >= 0x7f && c < 0xa0); }

    /** Characters that reorder or break lines on a display although they print
        nothing themselves. */
    bool isLayoutControl (juce::juce_wchar c)
    {
        return c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069)
               || c == 0x200e || c == 0x200f || c == 0x061c;
    }

    bool isScalarValue (juce::juce_wchar c) { return c <= 0x10ffff && (c < 0xd800 || c > 0xdfff); }
} // namespace

juce::String OutsideText::visible (const juce::String& text)
{
    juce::String shown;
    shown.preallocateBytes (text.getNumBytesAsUTF8());

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (! isScalarValue (c))
            shown << juce::String::charToString (0xfffd);
        else if (c < 0x100 && isControl (c))
            shown << "\\x" << juce::String::toHexString ((int) c).paddedLeft ('0', 2);
        else if (isLayoutControl (c))
            shown << "\\u" << juce::String::toHexString ((int) c).paddedLeft ('0', 4);
        else
            shown << juce::String::charToString (c);
    }

    return shown;
}

juce::String OutsideText::jsonString (const juce::String& text)
{
    juce::String quoted ("\"");
    quoted.preallocateBytes (text.getNumBytesAsUTF8() + 2);

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (c == '"' || c == '\\')
            quoted << "\\" << juce::String::charToString (c);
        else if (isControl (c) || c == 0x2028 || c == 0x2029)
            quoted << "\\u" << juce::String::toHexString ((int) c).paddedLeft ('0', 4);
        else
            quoted << juce::String::charToString (isScalarValue (c) ? c : (juce::juce_wchar) 0xfffd);
    }

    return quoted + "\"";
}

juce::String OutsideText::json (const juce::var& value)
{
    if (value.isBool())
        return (bool) value ? "true" : "false";

    if (value.isInt() || value.isInt64())
        return juce::String ((juce::int64) value);

    if (value.isDouble())
        return std::isfinite ((double) value) ? juce::String ((double) value, 0, false) : juce::String ("null");

    if (value.isString())
        return jsonString (value.toString());

    if (const auto* array = value.getArray())
    {
        juce::StringArray items;

        for (const auto& item : *array)
            items.add (json (item));

        return "[" + items.joinIntoString (", ") + "]";
    }

    if (auto* object = value.getDynamicObject())
    {
        juce::StringArray members;

        for (const auto& property : object->getProperties())
            members.add (jsonString (property.name.toString()) + ": " + json (property.value));

        return "{" + members.joinIntoString (", ") + "}";
    }

    return "null";
}
