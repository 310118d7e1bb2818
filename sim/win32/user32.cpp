// user32: window classes, windows, message queues, timers, message boxes.
#include "user32.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "dialogs.h"
#include "resources.h"
#include "system.h"

namespace sim {

namespace {

struct ClassInfo {
    std::string name;
    WNDPROC proc = nullptr;
    bool system = false;
    HINSTANCE instance = nullptr;  // a program's class is found only with the module it names
};

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

std::map<std::string, ClassInfo, CaseLess> g_classes;
std::map<HWND, std::unique_ptr<Window>> g_windows;
std::map<HWND, HeldTicket> g_window_held;  // top-level windows, in the account of what is held
uintptr_t g_next_hwnd = 0x10020;
int g_order = 0;
ATOM g_next_atom = 0xC000;

struct Sent {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::function<void(LRESULT)> done;
};
struct Queue {
    std::deque<MSG> posted;
    std::deque<Sent> sent;
    bool quit = false;
    int quit_code = 0;
};
std::map<SimThread *, Queue> g_queues;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT rate;
    TIMERPROC proc;
    Ms when;
    SimThread *thread;
};
std::vector<Timer> g_timers;

struct Box {
    std::string caption;
    SimThread *thread;
    int depth;  // 1 for the outermost open box on its thread
    bool dismissed = false;
    HWND hwnd = nullptr;  // the box's own dialog window
    int result = IDOK;    // the button that ended it
};
std::vector<Box *> g_boxes;  // open message boxes of every thread, in the order they opened

int g_screen_w = 1024, g_screen_h = 768;

bool g_registered = [] {
    AddTimeSource([] {
        Ms next = kNever;
        for (auto &t : g_timers)
            if (t.when > Now())
                next = std::min(next, t.when);
        return next;
    });
    return true;
}();

Timer *ExpiredTimer(SimThread *self)
{
    Timer *best = nullptr;
    for (auto &t : g_timers)
        if (t.thread == self && t.when <= Now() && (!best || t.when < best->when))
            best = &t;
    return best;
}

// GetMessageA's range: both bounds 0 take every message; otherwise only those from `first` to `last`
// (none when `first` is above `last`). Sent messages are handled and WM_QUIT is retrieved whatever the
// range.
bool InRange(UINT msg, UINT first, UINT last) { return (!first && !last) || (msg >= first && msg <= last); }

bool HasInput(SimThread *self, UINT first = 0, UINT last = 0)
{
    Queue &q = g_queues[self];
    return !q.sent.empty() || q.quit ||
           std::any_of(q.posted.begin(), q.posted.end(), [&](const MSG &m) { return InRange(m.message, first, last); }) ||
           (InRange(WM_TIMER, first, last) && ExpiredTimer(self) != nullptr);
}

// Takes the next message for the calling thread, handling sent messages on the way; false when none.
bool TryFetch(MSG *out, UINT first = 0, UINT last = 0)
{
    SimThread *self = Self();
    Queue &q = g_queues[self];
    while (!q.sent.empty()) {
        Sent s = std::move(q.sent.front());
        q.sent.pop_front();
        Window *w = FindWin(s.hwnd);
        LRESULT r = w ? CallProc(w, s.msg, s.wParam, s.lParam) : 0;
        if (s.done)
            s.done(r);
    }
    auto posted = std::find_if(q.posted.begin(), q.posted.end(),
                               [&](const MSG &m) { return InRange(m.message, first, last); });
    if (posted != q.posted.end()) {
        *out = *posted;
        q.posted.erase(posted);
        return true;
    }
    if (q.quit) {
        q.quit = false;
        *out = MSG{nullptr, WM_QUIT, (WPARAM)q.quit_code, 0, (DWORD)Now(), {0, 0}};
        return true;
    }
    if (Timer *t = InRange(WM_TIMER, first, last) ? ExpiredTimer(self) : nullptr) {
        *out = MSG{t->hwnd, WM_TIMER, t->id, (LPARAM)t->proc, (DWORD)Now(), {0, 0}};
        // The next expiry keeps the timer's phase; ticks missed meanwhile are not made up.
        while (t->when <= Now())
            t->when += t->rate;
        return true;
    }
    return false;
}

void Post(Window *w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    g_queues[w->thread].posted.push_back(MSG{w->handle, msg, wParam, lParam, (DWORD)Now(), {0, 0}});
}

void EmitShown(Window *w)
{
    if (!(w->style & WS_CHILD))
        Emit("shown", {{"window", AnsiToUtf8(w->title)}, {"visible", w->visible}});
    if (w->on_shown)
        w->on_shown(*w);
}

// The character a key makes on the US keyboard layout with no shift key held and every lock off (the
// world has no keyboard of its own, so its state never changes): 0 for a key that makes none. The
// digits of the numeric keypad make theirs only with NumLock on, as in Wine, which looks the key up
// with the thread's keyboard state.
char KeyCharacter(WPARAM vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return (char)('a' + (vk - 'A'));
    if (vk >= '0' && vk <= '9')
        return (char)vk;
    switch (vk) {
    case VK_BACK: return '\b';
    case VK_TAB: return '\t';
    case VK_RETURN: return '\r';
    case VK_ESCAPE: return '\x1b';
    case VK_SPACE: return ' ';
    case VK_MULTIPLY: return '*';
    case VK_ADD: return '+';
    case VK_SUBTRACT: return '-';
    case VK_DECIMAL: return '.';
    case VK_DIVIDE: return '/';
    case VK_OEM_1: return ';';
    case VK_OEM_PLUS: return '=';
    case VK_OEM_COMMA: return ',';
    case VK_OEM_MINUS: return '-';
    case VK_OEM_PERIOD: return '.';
    case VK_OEM_2: return '/';
    case VK_OEM_3: return '`';
    case VK_OEM_4: return '[';
    case VK_OEM_5: return '\\';
    case VK_OEM_6: return ']';
    case VK_OEM_7: return '\'';
    default: return 0;
    }
}

// The beep the system makes for a keystroke it discards (MessageBeep(0), the default sound): heard,
// so traced, with the window the keystroke was meant for.
void Beep(Window *w)
{
    Emit("beep", {{"type", MB_OK}, {"window", w ? Json(AnsiToUtf8(w->title)) : Json(nullptr)}});
}

// The window menu of a top-level window, as the handle its owner is told in the menu messages: the
// world has no menus, only the handle, one per window and never another window's (nor any other
// handle the world gives out).
HMENU WindowMenu(Window *w)
{
    static std::map<HWND, HMENU> menus;
    static uintptr_t next = 0x50000;
    auto it = menus.find(w->handle);
    if (it == menus.end())
        it = menus.emplace(w->handle, (HMENU)(next += 4)).first;
    return it->second;
}

// SC_KEYMENU with a character typed with Alt. The world's windows have no menu bar, so the keyboard
// turns to the window menu, which a window has only with WS_SYSMENU: without it nothing happens. The
// window menu's items are not looked up by their mnemonics here: the owner is asked with WM_MENUCHAR
// inside a menu loop that ends at once. Its default answer, MNC_IGNORE (as any answer the system does
// not know), discards the character with a beep; MNC_CLOSE closes the menu without one.
//  Not modelled, and so doing nothing: Alt+Space, Alt alone (no character) and an answer that picks an
// item (MNC_EXECUTE, MNC_SELECT) each open the window menu and wait in it for the user, and the world
// shows no menus. The cursor the loop sets on entry (WM_SETCURSOR) is not modelled either.
void KeyMenu(HWND hwnd, WORD ch)
{
    Window *w = FindWin(hwnd);
    while (w && (w->style & (WS_CHILD | WS_POPUP)) == WS_CHILD)
        w = FindWin(w->parent);
    if (!w || !(w->style & WS_SYSMENU) || ch == 0 || ch == ' ')
        return;
    HWND owner = w->handle;
    HMENU menu = WindowMenu(w);
    auto send = [owner](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        Window *x = FindWin(owner);
        return x ? CallProc(x, msg, wParam, lParam) : 0;
    };
    send(WM_ENTERMENULOOP, FALSE, 0);
    send(WM_INITMENU, (WPARAM)menu, 0);
    LRESULT answer = send(WM_MENUCHAR, MAKEWPARAM(ch, MF_SYSMENU), (LPARAM)menu);
    if (HIWORD(answer) == MNC_EXECUTE || HIWORD(answer) == MNC_SELECT)
        return;
    if (HIWORD(answer) != MNC_CLOSE)
        Beep(FindWin(owner));
    // The loop ends: no item is selected any more, and the menu mode is left.
    send(WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    send(WM_EXITMENULOOP, FALSE, 0);
}

std::string ResourceName(LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return "#" + std::to_string((uintptr_t)name);
    std::string s = name;
    for (auto &c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

}  // namespace

void RegisterSystemClass(const std::string &name, WNDPROC proc) { g_classes[name] = ClassInfo{name, proc, true}; }

Window *FindWin(HWND hwnd)
{
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.get();
}

std::vector<Window *> AllWindows()
{
    std::vector<Window *> all;
    for (auto &kv : g_windows)
        all.push_back(kv.second.get());
    std::sort(all.begin(), all.end(), [](Window *a, Window *b) { return a->order < b->order; });
    return all;
}

Window *FindTopLevel(const std::string &cls, const std::string &title)
{
    for (Window *w : AllWindows()) {
        if (w->style & WS_CHILD)
            continue;
        if (!cls.empty() && strcasecmp(cls.c_str(), w->cls.c_str()) != 0)
            continue;
        if (!title.empty() && title != w->title)
            continue;
        return w;
    }
    return nullptr;
}

LRESULT CallProc(Window *w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto ci = g_classes.find(w->cls);
    if (ci != g_classes.end() && ci->second.system)
        return w->proc(w->handle, msg, wParam, lParam);
    ProgramCode program;
    return w->proc(w->handle, msg, wParam, lParam);
}

HWND CreateWin(DWORD exstyle, const std::string &cls, const std::string &title, DWORD style, RECT rect, HWND parent,
               HMENU menu, LPVOID param)
{
    auto ci = g_classes.find(cls);
    if (ci == g_classes.end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (parent && !FindWin(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto w = std::make_unique<Window>();
    w->handle = (HWND)g_next_hwnd;
    g_next_hwnd += 4;
    w->cls = ci->second.name;
    w->title = title;
    w->proc = ci->second.proc;
    w->style = style & ~WS_VISIBLE;
    w->exstyle = exstyle;
    w->topmost = (exstyle & WS_EX_TOPMOST) != 0;
    if (style & WS_CHILD)
        w->parent = parent;
    else
        w->owner = parent;
    w->menu = menu;
    w->thread = Self();
    w->rect = rect;
    w->order = ++g_order;
    HWND h = w->handle;
    Window *win = w.get();
    g_windows[h] = std::move(w);
    if (!(style & WS_CHILD))
        g_window_held[h] = Acquire("window", title, {{"class", win->cls}, {"handle", HandleText((uintptr_t)h)}});
    if (!(style & WS_CHILD) && !ci->second.system)
        Emit("window", {{"class", AnsiToUtf8(win->cls)}, {"title", AnsiToUtf8(title)}, {"visible", false},
                        {"style", style}, {"exstyle", exstyle}});

    CREATESTRUCTA cs{param, kProgramInstance, menu, parent, (int)(rect.bottom - rect.top),
                     (int)(rect.right - rect.left), (int)rect.top, (int)rect.left, (LONG)style,
                     title.c_str(), cls.c_str(), exstyle};
    if (!CallProc(win, WM_NCCREATE, 0, (LPARAM)&cs) || CallProc(FindWin(h), WM_CREATE, 0, (LPARAM)&cs) == -1) {
        if (FindWin(h))
            DestroyWindow(h);
        return nullptr;
    }
    win = FindWin(h);
    if (!win)
        return nullptr;
    if (style & WS_VISIBLE)
        ShowWindow(h, SW_SHOW);
    return h;
}

void PostFromWorld(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (Window *w = FindWin(hwnd))
        Post(w, msg, wParam, lParam);
}

void SendFromWorld(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, std::function<void(LRESULT)> done)
{
    if (Window *w = FindWin(hwnd))
        g_queues[w->thread].sent.push_back(Sent{hwnd, msg, wParam, lParam, std::move(done)});
}

bool ModalLoop(const std::function<bool()> &stop)
{
    SimThread *self = Self();
    for (;;) {
        if (stop())
            return true;
        MSG msg;
        if (TryFetch(&msg)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage((int)msg.wParam);
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        BlockUntil([&stop, self] { return stop() || HasInput(self); });
    }
}

bool DismissMessageBox(const std::optional<std::string> &caption)
{
    for (auto it = g_boxes.rbegin(); it != g_boxes.rend(); ++it) {
        if (!(*it)->dismissed && (!caption || AnsiToUtf8((*it)->caption) == *caption)) {
            (*it)->dismissed = true;
            return true;
        }
    }
    return false;
}

bool DismissInnermostMessageBox() { return DismissMessageBox(std::nullopt); }

void DestroyThreadWindows(SimThread *t)
{
    // Its message boxes first, innermost first: each is traced as closed.
    for (auto it = g_boxes.rbegin(); it != g_boxes.rend();) {
        Box *box = *it;
        if (box->thread != t) {
            ++it;
            continue;
        }
        it = std::vector<Box *>::reverse_iterator(g_boxes.erase(std::next(it).base()));
        if (Window *w = FindWin(box->hwnd))
            w->visible = false;  // its window goes below, traced as the box closing, not as "shown"
        Emit("messagebox-closed", {{"caption", AnsiToUtf8(box->caption)}, {"depth", box->depth}});
    }
    // Then its windows: no message reaches a thread that is gone, the windows simply cease to be.
    std::vector<HWND> handles;
    for (Window *w : AllWindows())
        if (w->thread == t)
            handles.push_back(w->handle);
    for (HWND h : handles) {
        Window *w = FindWin(h);
        if (!w)
            continue;
        if (w->visible) {
            w->visible = false;
            EmitShown(w);
        }
        g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(), [h](const Timer &x) { return x.hwnd == h; }),
                       g_timers.end());
        if (w->on_destroy)
            w->on_destroy(*w);
        g_windows.erase(h);
        // The system destroyed it: the program no longer holds it.
        auto held = g_window_held.find(h);
        if (held != g_window_held.end()) {
            Release(held->second);
            g_window_held.erase(held);
        }
    }
    g_queues.erase(t);
}

int ScreenWidth() { return g_screen_w; }
int ScreenHeight() { return g_screen_h; }
void SetScreen(int width, int height)
{
    g_screen_w = width;
    g_screen_h = height;
}

}  // namespace sim

using namespace sim;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA *wc)
{
    PlatformCall call("RegisterClassA");
    YieldPoint();
    if (call.Fault())
        return 0;
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || IS_INTRESOURCE(wc->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (wc->cbClsExtra < 0 || wc->cbWndExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Windows 95 refuses more than 40 extra bytes for the class or for each window: it says why only
    // on its debugging build, and names no error code. NT has had no such limit since 3.51; for 98
    // and Me nothing says there is one.
    if (IsWindows95() && (wc->cbClsExtra > 40 || wc->cbWndExtra > 40))
        return 0;
    if (g_classes.count(wc->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (wc->cbClsExtra < 0 || wc->cbWndExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // No module is the process's own executable.
    HINSTANCE instance = wc->hInstance ? wc->hInstance : kProgramInstance;
    g_classes[wc->lpszClassName] = ClassInfo{wc->lpszClassName, wc->lpfnWndProc, false, instance};
    // The class as the system keeps it, which any program may read back from the window: the
    // handles named by what they are (a module's icon by its resource name, a system icon or cursor
    // by its id, a stock object by its index), any other value as it is.
    auto handle = [](const void *h) -> Json {
        uintptr_t v = (uintptr_t)h;
        if (!v)
            return nullptr;
        for (const Resource &r : ProgramResources())
            if (&r == h)
                return r.name.empty() ? "#" + std::to_string(r.name_id) : r.name;
        if (v >= 0x20000 && v < 0x30000)
            return "icon " + std::to_string(v - 0x20000);
        if (v >= 0x30000 && v < 0x40000)
            return "cursor " + std::to_string(v - 0x30000);
        if (v >= 0x40000 && v < 0x40000 + 32)
            return "stock " + std::to_string(v - 0x40000);
        return (uint64_t)v;
    };
    Json menu = nullptr;
    if (IS_INTRESOURCE(wc->lpszMenuName))
        menu = handle(wc->lpszMenuName);
    else
        menu = AnsiToUtf8(wc->lpszMenuName);
    Emit("class", {{"name", AnsiToUtf8(wc->lpszClassName)}, {"style", wc->style},
                   {"class_extra", wc->cbClsExtra}, {"window_extra", wc->cbWndExtra},
                   {"module", instance == kProgramInstance ? Json("program") : Json((uint64_t)(uintptr_t)instance)},
                   {"icon", handle(wc->hIcon)}, {"cursor", handle(wc->hCursor)},
                   {"brush", handle(wc->hbrBackground)}, {"menu", menu}});
    return g_next_atom++;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    PlatformCall call("CreateWindowExA");
    YieldPoint();
    if (call.Fault())
        return NULL;
    // A program's own class is found only by the module that registered it.
    auto ci = lpClassName && !IS_INTRESOURCE(lpClassName) ? g_classes.find(lpClassName) : g_classes.end();
    if (ci == g_classes.end() ||
        (!ci->second.system && ci->second.instance != (hInstance ? hInstance : kProgramInstance))) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return NULL;
    }
    // Default placement for overlapped windows, as a cascading shell would give.
    if (X == CW_USEDEFAULT) {
        X = 22;
        Y = 22;
    }
    if (nWidth == CW_USEDEFAULT) {
        nWidth = g_screen_w * 3 / 4;
        nHeight = g_screen_h * 3 / 4;
    }
    RECT rect{X, Y, X + nWidth, Y + nHeight};
    return CreateWin(dwExStyle, lpClassName, lpWindowName ? lpWindowName : "", dwStyle, rect, hWndParent, hMenu,
                     lpParam);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    PlatformCall call("DestroyWindow");
    YieldPoint();
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->thread != Self()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (call.Fault()) {
        if (g_window_held.count(hWnd))
            ReleaseRefused(g_window_held[hWnd], call);
        return FALSE;
    }
    if (w->destroying)
        return TRUE;
    w->destroying = true;
    if (w->visible) {
        w->visible = false;
        EmitShown(w);
    }
    // The handles of the windows that `related` picks, taken before any of them is destroyed:
    // destroying one (an owned dialog with its controls) frees others that a list of pointers held.
    auto handles = [](const std::function<bool(Window *)> &related) {
        std::vector<HWND> out;
        for (Window *x : AllWindows())
            if (related(x))
                out.push_back(x->handle);
        return out;
    };
    // Owned windows go first, then the window gets WM_DESTROY before its children.
    for (HWND o : handles([hWnd](Window *x) { return x->owner == hWnd && !(x->style & WS_CHILD); }))
        if (FindWin(o))
            DestroyWindow(o);
    std::function<void(HWND)> send_destroy = [&](HWND h) {
        Window *x = FindWin(h);
        if (!x)
            return;
        CallProc(x, WM_DESTROY, 0, 0);
        for (HWND c : handles([h](Window *y) { return y->parent == h; }))
            send_destroy(c);
    };
    send_destroy(hWnd);
    std::function<void(HWND)> finish = [&](HWND h) {
        for (HWND c : handles([h](Window *y) { return y->parent == h; }))
            finish(c);
        Window *x = FindWin(h);
        if (!x)
            return;
        CallProc(x, WM_NCDESTROY, 0, 0);
        g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(), [h](const Timer &t) { return t.hwnd == h; }),
                       g_timers.end());
        if (x->on_destroy)
            x->on_destroy(*x);
        g_windows.erase(h);
        auto held = g_window_held.find(h);
        if (held != g_window_held.end()) {
            Release(held->second);
            g_window_held.erase(held);
        }
    };
    finish(hWnd);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    PlatformCall call("ShowWindow");
    YieldPoint();
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool was = w->visible;
    bool now = nCmdShow != SW_HIDE;
    if (was != now) {
        w->visible = now;
        EmitShown(w);
    }
    return was;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    PlatformCall call("UpdateWindow");
    if (call.Fault())
        return FALSE;
    return FindWin(hWnd) != nullptr;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    PlatformCall call("IsWindow");
    return FindWin(hWnd) != nullptr;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    PlatformCall call("IsWindowVisible");
    Window *w = FindWin(hWnd);
    return w && w->visible;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    PlatformCall call("FindWindowA");
    Window *w = FindTopLevel(lpClassName ? lpClassName : "", lpWindowName ? lpWindowName : "");
    return w ? w->handle : NULL;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PlatformCall call("DefWindowProcA");
    Window *w = FindWin(hWnd);
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SETTEXT:
        if (w)
            w->title = lParam ? (const char *)lParam : "";
        return TRUE;
    case WM_GETTEXTLENGTH:
        return w ? (LRESULT)w->title.size() : 0;
    case WM_GETTEXT: {
        if (!w || wParam == 0)
            return 0;
        size_t n = std::min<size_t>(w->title.size(), wParam - 1);
        memcpy((char *)lParam, w->title.data(), n);
        ((char *)lParam)[n] = '\0';
        return (LRESULT)n;
    }
    case WM_POWERBROADCAST:
        // No special handling, as in Wine: 0. Only BROADCAST_QUERY_DENY refuses a suspend query.
        return 0;
    case WM_SYSCHAR:
        // A character typed with Alt is a menu's keyboard interface, except Alt+Tab and Alt+Escape
        // (the system's own); Alt+Space in a child window is its parent's. Without Alt (a key pressed
        // while in the menu mode, or a message another program made up) it is discarded with a beep,
        // unless it is Escape. Enter in a minimized window restores it: the world minimizes no window.
        if ((HIWORD(lParam) & KF_ALTDOWN) && wParam) {
            if (wParam == VK_TAB || wParam == VK_ESCAPE)
                return 0;
            if (wParam == VK_SPACE && w && (w->style & WS_CHILD))
                return SendMessageA(w->parent, WM_SYSCHAR, wParam, lParam);
            SendMessageA(hWnd, WM_SYSCOMMAND, SC_KEYMENU, (LPARAM)wParam);
        } else if (wParam != VK_ESCAPE) {
            Beep(w);
        }
        return 0;
    case WM_SYSCOMMAND:
        // Only the keyboard's way into the menus is modelled; the other commands do nothing here. A
        // disabled window takes no command.
        if ((wParam & 0xFFF0) == SC_KEYMENU && w && !(w->style & WS_DISABLED))
            KeyMenu(hWnd, LOWORD(lParam));
        return 0;
    default:
        return 0;
    }
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    PlatformCall call("GetMessageA");
    YieldPoint();
    SimThread *self = Self();
    for (;;) {
        if (TryFetch(lpMsg, wMsgFilterMin, wMsgFilterMax))
            return lpMsg->message != WM_QUIT;
        BlockUntil([=] { return HasInput(self, wMsgFilterMin, wMsgFilterMax); });
    }
}

BOOL WINAPI TranslateMessage(const MSG *lpMsg)
{
    PlatformCall call("TranslateMessage");
    // A key pressed that makes a character posts it, with the keystroke's own lParam, to the window the
    // keystroke was for: WM_CHAR, or WM_SYSCHAR for a key pressed with Alt (WM_SYSKEYDOWN). Nonzero for
    // every key pressed or released, whether or not it made a character; zero for any other message.
    switch (lpMsg->message) {
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return TRUE;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        break;
    default:
        return FALSE;
    }
    char c = KeyCharacter(lpMsg->wParam);
    if (!c)
        return TRUE;
    UINT msg = lpMsg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    if (!lpMsg->hwnd)
        g_queues[Self()].posted.push_back(
            MSG{nullptr, msg, (WPARAM)(unsigned char)c, lpMsg->lParam, (DWORD)Now(), {0, 0}});
    else if (Window *w = FindWin(lpMsg->hwnd))
        Post(w, msg, (WPARAM)(unsigned char)c, lpMsg->lParam);
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg)
{
    PlatformCall call("DispatchMessageA");
    YieldPoint();
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        // Only a procedure that some timer of the thread really has is called.
        TIMERPROC proc = (TIMERPROC)lpMsg->lParam;
        bool known = std::any_of(g_timers.begin(), g_timers.end(),
                                 [&](const Timer &t) { return t.proc == proc && t.thread == Self(); });
        if (!known)
            return 0;
        ProgramCode program;
        proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, (DWORD)Now());
        return 0;
    }
    Window *w = FindWin(lpMsg->hwnd);
    if (!w || w->thread != Self()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CallProc(w, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PlatformCall call("PostMessageA");
    YieldPoint();
    if (call.Fault())
        return FALSE;
    if (!hWnd) {
        g_queues[Self()].posted.push_back(MSG{nullptr, Msg, wParam, lParam, (DWORD)Now(), {0, 0}});
        return TRUE;
    }
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Post(w, Msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PlatformCall call("SendMessageA");
    YieldPoint();
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->thread == Self())
        return CallProc(w, Msg, wParam, lParam);
    // Another thread's window: it handles the message when it next looks at its queue.
    auto result = std::make_shared<std::optional<LRESULT>>();
    g_queues[w->thread].sent.push_back(Sent{hWnd, Msg, wParam, lParam, [result](LRESULT r) { *result = r; }});
    BlockUntil([result] { return result->has_value(); });
    return **result;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    PlatformCall call("PostQuitMessage");
    Queue &q = g_queues[Self()];
    q.quit = true;
    q.quit_code = nExitCode;
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    PlatformCall call("SetTimer");
    YieldPoint();
    if (call.Fault())
        return 0;
    // Any thread of the process may set a timer on a window; it ticks on the window's own thread.
    Window *w = FindWin(hWnd);
    if (!hWnd || !w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    uElapse = std::max<UINT>(uElapse, 10);  // USER_TIMER_MINIMUM
    auto it = std::find_if(g_timers.begin(), g_timers.end(),
                           [&](const Timer &t) { return t.hwnd == hWnd && t.id == nIDEvent; });
    // Setting an existing timer again replaces it, and a pending tick with it.
    Timer t{hWnd, nIDEvent, uElapse, lpTimerFunc, Now() + uElapse, w->thread};
    if (it != g_timers.end())
        *it = t;
    else
        g_timers.push_back(t);
    Emit("timer", {{"id", nIDEvent}, {"period", uElapse}, {"set", true}});
    return nIDEvent;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    PlatformCall call("KillTimer");
    YieldPoint();
    if (call.Fault())
        return FALSE;
    auto it = std::find_if(g_timers.begin(), g_timers.end(),
                           [&](const Timer &t) { return t.hwnd == hWnd && t.id == uIDEvent; });
    if (it == g_timers.end()) {
        SetLastError(ERROR_INVALID_TIMER);
        return FALSE;
    }
    // A tick not yet retrieved goes with the timer.
    g_timers.erase(it);
    Emit("timer", {{"id", uIDEvent}, {"set", false}});
    return TRUE;
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    PlatformCall call("LoadIconA");
    if (call.Fault())
        return NULL;
    if (!hInstance)
        return (HICON)(uintptr_t)(0x20000 + (uintptr_t)lpIconName);  // a system icon
    if (hInstance != kProgramInstance) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    const Resource *r = IS_INTRESOURCE(lpIconName)
                            ? FindResourceById(kRtGroupIcon, (uint32_t)(uintptr_t)lpIconName)
                            : FindResourceByName(kRtGroupIcon, ResourceName(lpIconName));
    if (!r) {
        // After the icon group the animated icon is looked for; the module has none of that type.
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    return (HICON)r;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    PlatformCall call("LoadCursorA");
    if (call.Fault())
        return NULL;
    return hInstance ? NULL : (HCURSOR)(uintptr_t)(0x30000 + (uintptr_t)lpCursorName);
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    PlatformCall call("GetStockObject");
    if (call.Fault())
        return NULL;
    return (HGDIOBJ)(uintptr_t)(0x40000 + i);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    PlatformCall call("GetModuleHandleA");
    return lpModuleName ? NULL : kProgramInstance;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    PlatformCall call("MessageBoxA");
    YieldPoint();
    if (call.Fault())
        return 0;
    std::string text = lpText ? lpText : "";
    SimThread *self = Self();
    int depth = 1;
    for (Box *open : g_boxes)
        depth += open->thread == self;
    Box box{lpCaption ? lpCaption : "Error", self, depth};
    Window *owner = FindWin(hWnd);
    // The box is a dialog window of its own ("#32770", titled with the caption, owned by hWnd): others
    // find it and end it as its buttons do, with WM_COMMAND and the button's id.
    RegisterDialogClasses();
    const int width = 300, height = 120;
    RECT rect{(g_screen_w - width) / 2, (g_screen_h - height) / 2, (g_screen_w + width) / 2,
              (g_screen_h + height) / 2};
    box.hwnd = CreateWin(WS_EX_DLGMODALFRAME | ((uType & MB_TOPMOST) ? WS_EX_TOPMOST : 0), "#32770", box.caption,
                         WS_POPUP | WS_CAPTION | WS_SYSMENU, rect, owner ? hWnd : nullptr, nullptr, nullptr);
    if (Window *w = FindWin(box.hwnd)) {
        w->visible = true;  // shown; the trace has it as "messagebox"
        w->dlgproc = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
            if (msg != WM_COMMAND || LOWORD(wParam) < IDOK || LOWORD(wParam) > 11 /* IDCONTINUE */)
                return FALSE;
            for (Box *b : g_boxes)
                if (b->hwnd == hwnd && !b->dismissed) {
                    b->dismissed = true;
                    b->result = LOWORD(wParam);
                }
            return TRUE;
        };
    }
    Json owner_json = owner ? Json(AnsiToUtf8(owner->title)) : Json(nullptr);
    g_boxes.push_back(&box);
    Emit("messagebox", {{"owner", owner_json}, {"caption", AnsiToUtf8(box.caption)}, {"text", AnsiToUtf8(text)},
                        {"bytes", Hex(text)}, {"flags", uType}, {"depth", box.depth}});
    // The box's own modal loop: the thread's timers and notices keep being handled inside it. WM_QUIT
    // ends it as OK would (and is posted again for the thread's own loop), as Wine's dialog loop does.
    HWND hwnd = box.hwnd;
    ModalLoop([&box, hwnd] { return box.dismissed || !FindWin(hwnd); });
    g_boxes.erase(std::find(g_boxes.begin(), g_boxes.end(), &box));
    if (Window *w = FindWin(hwnd)) {
        w->visible = false;
        DestroyWindow(hwnd);
    }
    Emit("messagebox-closed", {{"caption", AnsiToUtf8(box.caption)}, {"depth", box.depth}});
    return box.result;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    PlatformCall call("GetWindowRect");
    if (call.Fault())
        return FALSE;
    Window *w = FindWin(hWnd);
    if (!w || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *lpRect = w->rect;
    return TRUE;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWL_STYLE:
        return (LONG)((w->style & ~(DWORD)WS_VISIBLE) | (w->visible ? WS_VISIBLE : 0));
    case GWL_EXSTYLE:
        return (LONG)((w->exstyle & ~(DWORD)WS_EX_TOPMOST) | (w->topmost ? WS_EX_TOPMOST : 0));
    case GWL_ID:
        return (LONG)(UINT_PTR)w->menu;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

int WINAPI GetSystemMetrics(int nIndex)
{
    PlatformCall call("GetSystemMetrics");
    if (call.Fault())
        return 0;
    switch (nIndex) {
    case SM_CXSCREEN:
        return g_screen_w;
    case SM_CYSCREEN:
        return g_screen_h;
    default:
        return 0;
    }
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    PlatformCall call("SetWindowPos");
    YieldPoint();
    if (call.Fault())
        return FALSE;
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
    if (!(uFlags & SWP_NOSIZE)) {
        width = cx;
        height = cy;
    }
    if (!(uFlags & SWP_NOMOVE)) {
        w->rect.left = X;
        w->rect.top = Y;
    }
    w->rect.right = w->rect.left + width;
    w->rect.bottom = w->rect.top + height;
    if (!(uFlags & SWP_NOZORDER)) {
        if (hWndInsertAfter == HWND_TOPMOST)
            w->topmost = true;
        else if (hWndInsertAfter == HWND_NOTOPMOST)
            w->topmost = false;
    }
    if ((uFlags & SWP_SHOWWINDOW) && !w->visible) {
        w->visible = true;
        EmitShown(w);
    }
    if (w->on_pos)
        w->on_pos(*w);
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    PlatformCall call("SetWindowTextA");
    Window *w = FindWin(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return (BOOL)SendMessageA(hWnd, WM_SETTEXT, 0, (LPARAM)lpString);
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    PlatformCall call("GetWindowTextA");
    if (!FindWin(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return (int)SendMessageA(hWnd, WM_GETTEXT, (WPARAM)nMaxCount, (LPARAM)lpString);
}

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist)
{
    PlatformCall call("wvsprintfA");
    // wsprintf writes at most 1024 characters and the NUL.
    int n = vsnprintf(lpOut, 1025, lpFmt, arglist);
    return std::min(n, 1024);
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    PlatformCall call("wsprintfA");
    va_list ap;
    va_start(ap, lpFmt);
    int n = wvsprintfA(lpOut, lpFmt, ap);
    va_end(ap);
    return n;
}

}  // extern "C"
