#pragma once

// The decoder's narrow view of the main window, so that decoding runs and is
// tested without widgets.
class DecoderWindow
{
public:
    enum class Mode { Single, Scan, Table };

    virtual ~DecoderWindow() = default;

    // Called on the link thread: posts the press to the window thread and
    // returns at once; pressing one mode button releases the others.
    virtual void pressModeButton(Mode mode) = 0;
};
