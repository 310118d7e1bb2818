// The scripted user: clicks and ticks the controls of the open call dialog, dismisses message boxes,
// and closes the program's window or posts keystrokes to it, seeing only what is on the screen (see
// user.h).
#include "user.h"

#include <strings.h>

#include <cctype>
#include <cstring>

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

std::optional<KeyStroke> ParseKeyStroke(const std::string &text)
{
    KeyStroke k;
    k.name = text;
    std::string key = text;
    if (strncasecmp(key.c_str(), "Alt+", 4) == 0) {
        k.alt = true;
        key = key.substr(4);
    }
    // Scan codes of the US keyboard, row by row.
    static const char letters[] = "QWERTYUIOPASDFGHJKLZXCVBNM";
    static const BYTE letter_scans[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1E, 0x1F, 0x20,
                                        0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32};
    static const struct {
        const char *name;
        UINT vk;
        BYTE scan;
    } named[] = {{"Space", VK_SPACE, 0x39}, {"Enter", VK_RETURN, 0x1C}, {"Escape", VK_ESCAPE, 0x01},
                 {"Tab", VK_TAB, 0x0F},     {"Backspace", VK_BACK, 0x0E}};
    if (key.size() == 1 && isalpha((unsigned char)key[0])) {
        char c = (char)toupper((unsigned char)key[0]);
        k.vk = (UINT)c;
        k.scan = letter_scans[strchr(letters, c) - letters];
        return k;
    }
    if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') {
        k.vk = (UINT)key[0];
        k.scan = key[0] == '0' ? 0x0B : (BYTE)(0x02 + (key[0] - '1'));
        return k;
    }
    for (const auto &n : named)
        if (strcasecmp(key.c_str(), n.name) == 0) {
            k.vk = n.vk;
            k.scan = n.scan;
            return k;
        }
    return std::nullopt;
}

void UserKey(const KeyStroke &key)
{
    Window *w = FindTopLevel("Tarvo VudIzeri", "");
    if (!w) {
        Emit("user", {{"action", "key"}, {"key", key.name}, {"ok", false}, {"reason", "no window"}});
        return;
    }
    Emit("user", {{"action", "key"}, {"key", key.name}, {"ok", true}});
    DWORD flags = key.alt ? KF_ALTDOWN : 0;
    LPARAM down = (LPARAM)(1 | ((DWORD)key.scan << 16) | (flags << 16));
    LPARAM up = (LPARAM)(1 | ((DWORD)key.scan << 16) | ((flags | KF_REPEAT | KF_UP) << 16));
    PostFromWorld(w->handle, key.alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key.vk, down);
    PostFromWorld(w->handle, key.alt ? WM_SYSKEYUP : WM_KEYUP, key.vk, up);
}

}  // namespace sim
