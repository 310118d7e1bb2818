// The dialog manager (user32 dialogs): templates, modeless dialogs, the dialog, button and static
// classes. Behaviour follows the documented user32 one (and Wine's where the documents
// are silent): CreateDialogParamA creates the dialog hidden, sends WM_SETFONT and creates the controls,
// sends WM_INITDIALOG and shows the dialog last if its template asks for WS_VISIBLE; DefDlgProcA calls
// the dialog procedure and does the default handling only for what it left unhandled.
#include "dialogs.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "handles.h"
#include "resources.h"
#include "user32.h"
#include "world.h"

namespace sim {

namespace {

// System metrics of a classic dialog at 96 dots per inch (see dialogs.h).
constexpr int kBaseUnitX = 6, kBaseUnitY = 13;
constexpr int kDlgFrame = 3, kFrame = 4, kBorder = 1, kCaption = 19;

// The one font every dialog uses; controls receive it with WM_SETFONT.
HFONT const kDialogFont = reinterpret_cast<HFONT>(static_cast<uintptr_t>(0x0A8C0010));

// What the dialog manager keeps about each dialog it made.
struct DialogInfo {
    int template_id = 0;
    uint64_t serial = 0;              // creation order, to find the most recent dialog
    bool announced = false;           // "dialog" was traced
    bool announce_pending = false;    // a first drawing is due
    HWND focus = nullptr;
    struct Control {
        HWND hwnd;
        RECT client_rect;             // in the dialog's client coordinates
    };
    std::vector<Control> controls;    // in template order
};

std::map<HWND, DialogInfo> g_dialogs;
uint64_t g_next_serial = 1;
bool g_classes_registered = false;

// ---- template parsing ----

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;

    void Need(size_t n) const
    {
        if (pos + n > size || pos + n < pos)
            throw std::runtime_error("dialog template truncated at byte " + std::to_string(pos));
    }
    WORD Word()
    {
        Need(2);
        WORD w = (WORD)(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD lo = Word();
        return lo | (DWORD)Word() << 16;
    }
    int16_t Short() { return (int16_t)Word(); }
    void AlignDword() { pos = (pos + 3) & ~(size_t)3; }
    std::u16string String()
    {
        std::u16string s;
        for (WORD c = Word(); c != 0; c = Word())
            s += (char16_t)c;
        return s;
    }
};

std::string Utf8(const std::u16string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A name-or-ordinal field: 0 for none, 0xFFFF and a number, or a string.
std::string NameOrOrdinal(Reader &r, WORD *ordinal)
{
    WORD first = r.Word();
    if (first == 0)
        return "";
    if (first == 0xFFFF) {
        WORD n = r.Word();
        if (ordinal)
            *ordinal = n;
        return "#" + std::to_string(n);
    }
    r.pos -= 2;
    return Utf8(r.String());
}

std::string AtomClassName(WORD atom)
{
    switch (atom) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return "#" + std::to_string(atom);
    }
}

// Dialog texts to ANSI: the templates hold UTF-16; what the system code page cannot hold (here: any
// character outside ASCII) becomes '?', as WideCharToMultiByte's default character.
std::string AnsiFromUtf8(const std::string &utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            out += (char)c;
            continue;
        }
        while (i + 1 < utf8.size() && ((unsigned char)utf8[i + 1] & 0xC0) == 0x80)
            ++i;
        out += '?';
    }
    return out;
}

int MulDivRound(int a, int b, int c)
{
    int64_t p = (int64_t)a * b;
    return (int)((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

// ---- the dialogs and their controls ----

DialogInfo *InfoOf(HWND dialog)
{
    auto it = g_dialogs.find(dialog);
    return it == g_dialogs.end() ? nullptr : &it->second;
}

bool IsCheckBoxStyle(DWORD style)
{
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

bool IsButton(const Window *w) { return w && w->cls == "Button"; }

POINT ClientOrigin(const Window &w)
{
    RECT frame = {0, 0, 0, 0};
    AdjustForFrame(frame, w.style, w.exstyle);
    return POINT{w.rect.left - frame.left, w.rect.top - frame.top};
}

// Keeps the controls' screen rectangles with their dialog after it moved.
void PlaceControls(HWND dialog)
{
    Window *d = FindWin(dialog);
    DialogInfo *info = InfoOf(dialog);
    if (!d || !info)
        return;
    POINT origin = ClientOrigin(*d);
    for (auto &c : info->controls) {
        if (Window *w = FindWin(c.hwnd)) {
            w->rect = RECT{origin.x + c.client_rect.left, origin.y + c.client_rect.top,
                           origin.x + c.client_rect.right, origin.y + c.client_rect.bottom};
        }
    }
}

void Announce(HWND dialog)
{
    DialogInfo *info = InfoOf(dialog);
    Window *d = FindWin(dialog);
    if (!info || !d || info->announced)
        return;
    info->announce_pending = false;
    info->announced = true;
    PlaceControls(dialog);
    Json controls = Json::object();
    for (auto &c : info->controls) {
        Window *w = FindWin(c.hwnd);
        if (!w)
            continue;
        WORD id = (WORD)(UINT_PTR)w->menu;
        if (id == 0xFFFF)
            continue;  // the template's fixed texts
        if (IsButton(w) && IsCheckBoxStyle(w->style))
            controls[std::to_string(id)] = w->check == BST_CHECKED;
        else
            controls[std::to_string(id)] = AnsiToUtf8(w->title);
    }
    Json focus = nullptr;
    if (Window *f = FindWin(info->focus))
        focus = (WORD)(UINT_PTR)f->menu;
    Emit("dialog", {{"template", info->template_id},
                    {"title", AnsiToUtf8(d->title)},
                    {"x", d->rect.left},
                    {"y", d->rect.top},
                    {"width", d->rect.right - d->rect.left},
                    {"height", d->rect.bottom - d->rect.top},
                    {"topmost", d->topmost},
                    {"focus", focus},
                    {"controls", controls}});
}

// A visible dialog is first drawn once its thread waits for messages again: a world event due now
// runs only when every program thread is blocked.
void ScheduleAnnounce(HWND dialog)
{
    DialogInfo *info = InfoOf(dialog);
    if (!info || info->announced || info->announce_pending)
        return;
    info->announce_pending = true;
    uint64_t serial = info->serial;
    At(Now(), [dialog, serial] {
        DialogInfo *i = InfoOf(dialog);
        Window *d = FindWin(dialog);
        if (!i || i->serial != serial || !i->announce_pending)
            return;
        i->announce_pending = false;
        if (d && d->visible)
            Announce(dialog);
    });
}

void NoteDialogDestroyed(HWND dialog)
{
    DialogInfo *info = InfoOf(dialog);
    if (!info)
        return;
    // DestroyWindow hides the dialog before WM_DESTROY: one that was shown but never drawn is
    // announced now, so that its "closed" does not come alone.
    if (!info->announced && info->announce_pending)
        Announce(dialog);
    if (info->announced)
        Emit("closed", {{"template", info->template_id}});
    g_dialogs.erase(dialog);
}

// A control's text; traced once its dialog has been drawn and only when it really changes.
LRESULT SetControlText(HWND hwnd, LPCSTR text)
{
    Window *w = FindWin(hwnd);
    if (!w)
        return FALSE;
    std::string s = text ? text : "";
    if (w->title == s)
        return TRUE;
    w->title = s;
    DialogInfo *info = InfoOf(w->parent);
    if (info && info->announced)
        Emit("text", {{"template", info->template_id},
                      {"control", (WORD)(UINT_PTR)w->menu},
                      {"text", AnsiToUtf8(s)}});
    return TRUE;
}

// What a click does to a button, as its WM_LBUTTONUP would: an automatic check box toggles, then the
// parent hears BN_CLICKED. The parent may destroy the button in answer; nothing touches it afterwards.
void ClickButton(HWND hwnd)
{
    Window *w = FindWin(hwnd);
    if (!w)
        return;
    if (DialogInfo *info = InfoOf(w->parent))
        info->focus = hwnd;
    DWORD type = w->style & BS_TYPEMASK;
    if (type == BS_AUTOCHECKBOX)
        SendMessageA(hwnd, BM_SETCHECK, w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    else if (type == BS_AUTO3STATE)
        SendMessageA(hwnd, BM_SETCHECK, (w->check + 1) % 3, 0);
    else if (type == BS_AUTORADIOBUTTON)
        SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
    w = FindWin(hwnd);
    if (!w)
        return;
    HWND parent = w->parent;
    WORD id = (WORD)(UINT_PTR)w->menu;
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)hwnd);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window *w = FindWin(hwnd);
    if (!w)
        return 0;
    switch (msg) {
    case BM_GETCHECK:
        return IsCheckBoxStyle(w->style) ? w->check : BST_UNCHECKED;
    case BM_SETCHECK: {
        // A two-state box takes BST_INDETERMINATE as checked; push buttons have no state.
        if (!IsCheckBoxStyle(w->style))
            return 0;
        DWORD type = w->style & BS_TYPEMASK;
        int max_state = (type == BS_3STATE || type == BS_AUTO3STATE) ? BST_INDETERMINATE : BST_CHECKED;
        w->check = (int)wParam > max_state ? max_state : (int)wParam;
        return 0;
    }
    case WM_SETTEXT:
        return SetControlText(hwnd, (LPCSTR)lParam);
    case WM_SETFONT:
        w->font = (HFONT)wParam;
        return 0;
    case WM_GETFONT:
        return (LRESULT)w->font;
    case BM_CLICK:
        // As the mouse's press and release on the button would: the click's effect and BN_CLICKED.
        ClickButton(hwnd);
        return 0;
    case kButtonUserInput:
        if (wParam == kUserClick
            || (wParam == kUserCheck && w->check != BST_CHECKED)
            || (wParam == kUserUncheck && w->check != BST_UNCHECKED))
            ClickButton(hwnd);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window *w = FindWin(hwnd);
    switch (msg) {
    case WM_SETTEXT:
        return SetControlText(hwnd, (LPCSTR)lParam);
    case WM_SETFONT:
        if (w)
            w->font = (HFONT)wParam;
        return 0;
    case WM_GETFONT:
        return w ? (LRESULT)w->font : 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// The default handling of what the dialog procedure left unhandled.
LRESULT DefaultDialogHandling(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_GETFONT:
        return (LRESULT)kDialogFont;
    case WM_CLOSE: {
        // BN_CLICKED of IDCANCEL is posted, from the Cancel button if there is one (none: from no
        // control); only a disabled Cancel button keeps it from being posted.
        HWND cancel = nullptr;
        if (DialogInfo *info = InfoOf(hDlg))
            for (auto &c : info->controls)
                if (Window *w = FindWin(c.hwnd); w && (WORD)(UINT_PTR)w->menu == IDCANCEL)
                    cancel = c.hwnd;
        Window *button = FindWin(cancel);
        if (!button || !(button->style & WS_DISABLED))
            PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)cancel);
        return 0;
    }
    case WM_MOVE:
    case WM_WINDOWPOSCHANGED:
        PlaceControls(hDlg);
        return DefWindowProcA(hDlg, msg, wParam, lParam);
    default:
        return DefWindowProcA(hDlg, msg, wParam, lParam);
    }
}

// Messages whose answer is the dialog procedure's own result rather than DWLP_MSGRESULT.
bool ReturnsProcResult(UINT msg)
{
    return (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) || msg == WM_COMPAREITEM
           || msg == WM_VKEYTOITEM || msg == WM_CHARTOITEM || msg == WM_QUERYDRAGICON
           || msg == WM_INITDIALOG;
}

const Resource *FindDialogResource(LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return FindResourceById(kRtDialog, (uint32_t)LOWORD(name));
    std::string upper = name;
    for (char &c : upper)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return FindResourceByName(kRtDialog, upper);
}

// The open call dialog the user sees: the most recently created visible one.
HWND OpenDialog()
{
    HWND best = nullptr;
    uint64_t best_serial = 0;
    for (auto &[hwnd, info] : g_dialogs) {
        Window *w = FindWin(hwnd);
        if (w && w->visible && info.serial > best_serial) {
            best = hwnd;
            best_serial = info.serial;
        }
    }
    return best;
}

}  // namespace

// ---- public helpers ----

DialogTemplate ParseDialogTemplate(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    DialogTemplate t;
    if (size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF)
        throw std::runtime_error("extended dialog templates are not supported");
    t.style = r.Dword();
    t.exstyle = r.Dword();
    WORD count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    t.menu = NameOrOrdinal(r, nullptr);
    t.class_name = NameOrOrdinal(r, nullptr);
    t.title = Utf8(r.String());
    if (t.style & DS_SETFONT) {
        t.font_size = r.Word();
        t.font_name = Utf8(r.String());
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        DialogItem item;
        item.style = r.Dword();
        item.exstyle = r.Dword();
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = r.Word();
        WORD atom = 0;
        item.class_name = NameOrOrdinal(r, &atom);
        if (atom) {
            item.class_atom = atom;
            item.class_name = AtomClassName(atom);
        }
        if (item.class_name.empty())
            throw std::runtime_error("dialog item " + std::to_string(i) + " has no class");
        WORD ordinal = 0;
        std::string title = NameOrOrdinal(r, &ordinal);
        if (ordinal)
            item.title_ordinal = ordinal;
        else
            item.title = title;
        WORD extra = r.Word();
        r.Need(extra);
        item.data.assign(data + r.pos, data + r.pos + extra);
        r.pos += extra;
        t.items.push_back(std::move(item));
    }
    return t;
}

int DialogUnitsToPixelsX(int x) { return MulDivRound(x, kBaseUnitX, 4); }
int DialogUnitsToPixelsY(int y) { return MulDivRound(y, kBaseUnitY, 8); }

void AdjustForFrame(RECT &rect, DWORD style, DWORD exstyle)
{
    int frame = 0;
    bool dlg_frame = (exstyle & WS_EX_DLGMODALFRAME)
                     || ((style & WS_DLGFRAME) && !(style & WS_THICKFRAME));
    if (style & WS_THICKFRAME)
        frame = kFrame;
    else if (dlg_frame)
        frame = kDlgFrame;
    else if (style & WS_BORDER)
        frame = kBorder;
    rect.left -= frame;
    rect.top -= frame;
    rect.right += frame;
    rect.bottom += frame;
    if ((style & WS_CAPTION) == WS_CAPTION)
        rect.top -= kCaption;
}

void RegisterDialogClasses()
{
    if (g_classes_registered)
        return;
    g_classes_registered = true;
    RegisterSystemClass("#32770", DefDlgProcA);
    RegisterSystemClass("Button", ButtonProc);
    RegisterSystemClass("Static", StaticProc);
}

HWND TopCallDialog() { return OpenDialog(); }

HWND CallDialogControl(HWND dialog, int id)
{
    HWND target = nullptr;
    DialogInfo *info = InfoOf(dialog);
    if (!info || id == 0xFFFF)
        return nullptr;
    for (auto &c : info->controls) {
        Window *w = FindWin(c.hwnd);
        if (w && (WORD)(UINT_PTR)w->menu == (WORD)id)
            target = c.hwnd;
    }
    return target;
}

bool IsButtonWindow(HWND hwnd) { return IsButton(FindWin(hwnd)); }
bool IsCheckBoxWindow(HWND hwnd)
{
    Window *w = FindWin(hwnd);
    return IsButton(w) && IsCheckBoxStyle(w->style);
}

}  // namespace sim

// ---- the Win32 functions ----

using namespace sim;

extern "C" {

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    PlatformCall call("CreateDialogParamA");
    RegisterDialogClasses();
    if (call.Fault())
        return nullptr;
    const Resource *res = lpTemplateName ? FindDialogResource(lpTemplateName) : nullptr;
    if (!res) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    DialogTemplate t;
    try {
        t = ParseDialogTemplate(res->data.data(), res->data.size());
    } catch (const std::exception &) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Window *owner = nullptr;
    if (hWndParent && !(owner = FindWin(hWndParent))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }

    // The window's size from the template's client size; its position relative to the owner's
    // client area, kept on the screen.
    DWORD style = t.style;
    DWORD exstyle = t.exstyle;
    if (style & WS_CHILD)
        style &= ~(DWORD)(WS_CAPTION | WS_SYSMENU);
    if (style & DS_MODALFRAME)
        exstyle |= WS_EX_DLGMODALFRAME;
    RECT rect = {0, 0, DialogUnitsToPixelsX(t.cx), DialogUnitsToPixelsY(t.cy)};
    AdjustForFrame(rect, style, exstyle);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    POINT pos = {rect.left, rect.top};
    if (style & DS_CENTER) {
        pos.x = (ScreenWidth() - width) / 2;
        pos.y = (ScreenHeight() - height) / 2;
    } else {
        pos.x += DialogUnitsToPixelsX(t.x);
        pos.y += DialogUnitsToPixelsY(t.y);
        if (owner && !(style & (WS_CHILD | DS_ABSALIGN))) {
            POINT origin = ClientOrigin(*owner);
            pos.x += origin.x;
            pos.y += origin.y;
        }
    }
    if (!(style & WS_CHILD)) {
        int dx = pos.x + width + kDlgFrame - ScreenWidth();
        int dy = pos.y + height + kDlgFrame - ScreenHeight();
        if (dx > 0)
            pos.x -= dx;
        if (dy > 0)
            pos.y -= dy;
        if (pos.x < 0)
            pos.x = 0;
        if (pos.y < 0)
            pos.y = 0;
    }

    std::string cls = t.class_name.empty() ? "#32770" : AnsiFromUtf8(t.class_name);
    HWND hwnd = CreateWin(exstyle, cls, AnsiFromUtf8(t.title), style & ~(DWORD)WS_VISIBLE,
                          RECT{pos.x, pos.y, pos.x + width, pos.y + height}, hWndParent, nullptr, nullptr);
    if (!hwnd)
        return nullptr;
    Window *d = FindWin(hwnd);
    if (!d)
        return nullptr;
    if (!(style & WS_CHILD)) {
        d->owner = hWndParent;
        d->parent = nullptr;
    }
    DialogInfo &info = g_dialogs[hwnd];
    info.serial = g_next_serial++;
    info.template_id = res->name_id;
    d->dialog_template = res->name_id;
    d->dlgproc = lpDialogFunc;
    d->on_shown = [](Window &w) {
        if (w.visible)
            ScheduleAnnounce(w.handle);
    };
    d->on_pos = [](Window &w) { PlaceControls(w.handle); };

    if (lpDialogFunc && (t.style & DS_SETFONT))
        SendMessageA(hwnd, WM_SETFONT, (WPARAM)kDialogFont, 0);

    // The controls, in template order (which is also the tab order).
    POINT origin = ClientOrigin(*FindWin(hwnd));
    for (const DialogItem &item : t.items) {
        RECT client;
        client.left = DialogUnitsToPixelsX(item.x);
        client.top = DialogUnitsToPixelsY(item.y);
        client.right = client.left + DialogUnitsToPixelsX(item.cx);
        client.bottom = client.top + DialogUnitsToPixelsY(item.cy);
        RECT screen = {origin.x + client.left, origin.y + client.top, origin.x + client.right,
                       origin.y + client.bottom};
        HWND control = CreateWin(item.exstyle | WS_EX_NOPARENTNOTIFY, AnsiFromUtf8(item.class_name),
                                 AnsiFromUtf8(item.title), item.style | WS_CHILD, screen, hwnd,
                                 (HMENU)(UINT_PTR)item.id,
                                 item.data.empty() ? nullptr : (LPVOID)item.data.data());
        if (!control) {
            DWORD error = GetLastError();
            if (FindWin(hwnd))
                DestroyWindow(hwnd);
            SetLastError(error);
            return nullptr;
        }
        DialogInfo *i = InfoOf(hwnd);
        if (!i)
            return nullptr;  // destroyed while its controls were being made
        i->controls.push_back({control, client});
        if (!i->focus && (item.style & WS_TABSTOP))
            i->focus = control;
        SendMessageA(control, WM_SETFONT, (WPARAM)kDialogFont, 0);
    }

    if (lpDialogFunc) {
        DialogInfo *i = InfoOf(hwnd);
        HWND first = i ? i->focus : nullptr;
        LRESULT take_default_focus = SendMessageA(hwnd, WM_INITDIALOG, (WPARAM)first, dwInitParam);
        // FALSE: the procedure placed the focus itself; TRUE: the first tab stop gets it.
        if (DialogInfo *again = InfoOf(hwnd); again && !take_default_focus)
            again->focus = nullptr;
    }
    if ((t.style & WS_VISIBLE) && FindWin(hwnd) && !FindWin(hwnd)->visible)
        ShowWindow(hwnd, SW_SHOWNORMAL);
    return hwnd;
}

LRESULT WINAPI DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PlatformCall call("DefDlgProcA");
    Window *w = FindWin(hDlg);
    if (!w)
        return 0;
    if (Msg == WM_DESTROY)
        NoteDialogDestroyed(hDlg);
    w->msgresult = 0;
    INT_PTR result = 0;
    if (w->dlgproc) {
        ProgramCode program;
        result = w->dlgproc(hDlg, Msg, wParam, lParam);
    }
    // The procedure may have destroyed its own dialog.
    w = FindWin(hDlg);
    if (!result && w) {
        if (!ReturnsProcResult(Msg))
            return DefaultDialogHandling(hDlg, Msg, wParam, lParam);
    }
    if (ReturnsProcResult(Msg))
        return result;
    return w ? w->msgresult : 0;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    PlatformCall call("GetDlgItem");
    if (!FindWin(hDlg)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (Window *w : AllWindows()) {
        if (w->parent == hDlg && (w->style & WS_CHILD) && FindWin(w->handle)
            && (LONG_PTR)(UINT_PTR)w->menu == (LONG_PTR)nIDDlgItem)
            return w->handle;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PlatformCall call("SendDlgItemMessageA");
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? SendMessageA(control, Msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    PlatformCall call("SetDlgItemTextA");
    if (call.Fault())
        return FALSE;
    return (BOOL)SendDlgItemMessageA(hDlg, nIDDlgItem, WM_SETTEXT, 0, (LPARAM)lpString);
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    PlatformCall call("IsDlgButtonChecked");
    return (UINT)SendDlgItemMessageA(hDlg, nIDButton, BM_GETCHECK, 0, 0);
}

}  // extern "C"
