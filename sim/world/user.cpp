// The scripted user: clicks and ticks the controls of the open call dialog, dismisses message boxes
// and closes the program's window, seeing only what is on the screen (see user.h).
#include "user.h"

#include "dialogs.h"
#include "user32.h"
#include "world.h"

namespace sim {

void UserAction(UserInput input, int control)
{
    const char *action = input == kUserClick ? "click" : input == kUserCheck ? "check" : "uncheck";
    auto refuse = [&](const char *why) {
        Emit("user", {{"action", action}, {"control", control}, {"ok", false}, {"reason", why}});
    };
    HWND dialog = TopCallDialog();
    if (!dialog)
        return refuse("no open dialog");
    HWND target = CallDialogControl(dialog, control);
    if (!target)
        return refuse("no such control");
    if (!IsButtonWindow(target))
        return refuse("not a button");
    if (input != kUserClick && !IsCheckBoxWindow(target))
        return refuse("not a check box");
    Emit("user", {{"action", action}, {"control", control}, {"ok", true}});
    PostFromWorld(target, kButtonUserInput, (WPARAM)input, 0);
}


void UserDismiss(const std::optional<std::string> &caption)
{
    if (DismissMessageBox(caption))
        return;
    Json refused = {{"action", "dismiss"}, {"ok", false}};
    if (caption)
        refused["caption"] = *caption;
    Emit("user", refused);
}

void UserClose()
{
    Window *w = FindTopLevel("Tarvo VudIzeri", "");
    if (w)
        PostFromWorld(w->handle, WM_CLOSE, 0, 0);
    else
        Emit("user", {{"action", "close"}, {"ok", false}});
}

}  // namespace sim
