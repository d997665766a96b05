#pragma once

namespace window {

class MessageBoxes;
class OpenFileDialog;
class ProgramEnd;

// The window's dealings with the world outside its own widgets. A null member
// means the toolkit's own (message box, file dialog, quitting the event loop);
// tests put scripted ones in their place. The window does not own them.
struct WindowSeams {
    MessageBoxes* messages = nullptr;
    OpenFileDialog* fileDialog = nullptr;
    ProgramEnd* programEnd = nullptr;
};

}  // namespace window
