// The scripted user: acts on what is on the screen, as a person at the machine would. Each action is
// called from a world event and reaches the program as input does (through the window's message
// queue); an action with nothing to act on is traced as "user" with "ok": false.
#ifndef SIM_USER_H
#define SIM_USER_H

#include <optional>
#include <string>

#include "dialogs.h"

namespace sim {

// A control of the open call dialog (the most recent visible one): a click, or ticking (Check) or
// unticking (Uncheck) a check box (UserInput: dialogs.h). Traces "user" with "ok".
void UserAction(UserInput input, int control);

// Dismisses the message box opened last, or the innermost open one with that caption (UTF-8).
void UserDismiss(const std::optional<std::string> &caption);

// Closes the program's window as another program would: WM_CLOSE posted to the window of class
// "Tarvo VudIzeri".
void UserClose();

// A keystroke another program posts to the program's window: a key pressed and released, with Alt held
// or not. `name` is how the scenario wrote it.
struct KeyStroke {
    std::string name;
    UINT vk = 0;    // virtual-key code
    BYTE scan = 0;  // the key's scan code on the US keyboard
    bool alt = false;
};

// "A" to "Z", "0" to "9", "Space", "Enter", "Escape", "Tab" or "Backspace", after "Alt+" or not, in
// any case; nullopt for anything else.
std::optional<KeyStroke> ParseKeyStroke(const std::string &text);

// Posts the keystroke to the window of class "Tarvo VudIzeri" as another program would: WM_KEYDOWN and
// WM_KEYUP, or with Alt WM_SYSKEYDOWN and WM_SYSKEYUP with KF_ALTDOWN, each with the scan code and a
// repeat count of 1. Traces "user" with "action": "key", "key" and "ok".
void UserKey(const KeyStroke &key);

}  // namespace sim

#endif
