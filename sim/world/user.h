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

}  // namespace sim

#endif
