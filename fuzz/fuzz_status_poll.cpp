// libFuzzer target: random line-status records from the driver, through the real status poll, the
// call dialogs and the line-current warning, with the scripted user clicking and dismissing between
// the ticks. The world runs in-process: one program thread (this one), the poll timer on a host
// window, and the driver double reporting the records, just as a scenario plays them.
//
// Input: one byte for the user's language, then steps of 113 bytes: a 112-byte record (CallerId,
// HoldSeconds, StatusWord, Response: the last is the program's and ignored by the driver double) and
// one byte for what the user does in that second. Each step is one second of virtual time.
//
// Beyond the sanitizers' checks it aborts when an answer reaches the driver that the program never
// sends, when a second warning opens over the first, or when the caller text outgrows the field.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/host_window.h"
#include "app/user_language.h"
#include "dialogs.h"
#include "driver/device_link.h"
#include "driver/line_status.h"
#include "driver_double.h"
#include "notify/status_poll.h"
#include "user.h"
#include "user32.h"
#include "world.h"

namespace {

constexpr size_t kRecord = sizeof(LineStatusRecord);
constexpr size_t kStep = kRecord + 1;
constexpr size_t kMaxSteps = 64;

LineStatusRecord *g_record;  // the program's record, on the heap so a stray access is caught
bool g_done;                 // the current input has been played

[[noreturn]] void Fail(const char *what, const std::string &line)
{
    fprintf(stderr, "fuzz_status_poll: %s: %s\n", what, line.c_str());
    abort();
}

// Checks every trace line as it is written.
void CheckTrace(const std::string &line)
{
    if (line.find("\"ev\":\"response\"") != std::string::npos) {
        auto trace = sim::Json::parse(line);
        unsigned code = trace["code"].get<unsigned>();
        if (code != 1 && code != 2 && code != 4 && code != 10 && code != 12)
            Fail("an answer the program never sends", line);
    } else if (line.find("\"ev\":\"messagebox\"") != std::string::npos) {
        if (sim::Json::parse(line)["depth"] != 1)
            Fail("a warning opened over another", line);
    }
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

uint32_t Get32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

// What the user does in a step, from its action byte: bits 0-1 none, click, check or uncheck; bits 2-3
// which control (1, 2, 1000, 1001); bit 4 dismisses the warning; bits 5-7 when in the second.
void ScheduleUser(sim::Ms second, uint8_t action)
{
    static const int controls[] = {1, 2, 1000, 1001};
    sim::Ms when = second + 100 + (action >> 5) * 100;
    int control = controls[(action >> 2) & 3];
    switch (action & 3) {
    case 1:
        sim::At(when, [control] { sim::UserAction(sim::kUserClick, control); });
        break;
    case 2:
        sim::At(when, [control] { sim::UserAction(sim::kUserCheck, control); });
        break;
    case 3:
        sim::At(when, [control] { sim::UserAction(sim::kUserUncheck, control); });
        break;
    default:
        break;
    }
    if (action & 0x10)
        sim::At(when + 50, [] { sim::DismissInnermostMessageBox(); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    sim::SetTraceSink(CheckTrace);
    sim::DriverSetPresent(false, true);
    // The world's main thread is this one; it keeps the baton after RunMain returns.
    sim::RunMain([] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = HostProc;
        wc.lpszClassName = HOST_WINDOW_CLASS;
        RegisterClassA(&wc);
        ProgramInstance = sim::kProgramInstance;
        HostWindow = CreateWindowExA(0, HOST_WINDOW_CLASS, HOST_WINDOW_CLASS, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, NULL, NULL);
        ModemControlDevice = CreateFileA(MODEM_CONTROL_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (!HostWindow || ModemControlDevice == INVALID_HANDLE_VALUE)
            Fail("the world did not start", "");
        g_record = (LineStatusRecord *)malloc(kRecord);
        memset(g_record, 0, kRecord);
        pLineStatusRecord = g_record;
        SetTimer(HostWindow, STATUS_POLL_TIMER, STATUS_POLL_PERIOD, StatusPollTick);
        return 0;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const DWORD languages[] = {LANGUAGE_ENGLISH, LANGUAGE_JAPANESE, LANGUAGE_KOREAN, 0};
    UserLanguage = languages[data[0] & 3];
    data++;
    size--;

    // The whole input is scheduled as world events, then played through the thread's message loop:
    // ticks, clicks and dismissals in virtual time, nested inside an open warning where one is.
    sim::Ms start = (sim::Now() / 1000 + 1) * 1000;
    size_t steps = size / kStep < kMaxSteps ? size / kStep : kMaxSteps;
    for (size_t i = 0; i < steps; ++i) {
        const uint8_t *step = data + i * kStep;
        sim::Ms second = start + (sim::Ms)i * 1000;
        std::string caller((const char *)step, CALLER_ID_SIZE);
        uint32_t hold = Get32(step + 100), status = Get32(step + 104);
        sim::At(second + 500, [caller, hold, status] { sim::DriverSetStatus(status, caller, hold); });
        ScheduleUser(second, step[kRecord]);
    }
    // The end: an idle line, the warning (there is at most one) dismissed, then back to the harness.
    sim::Ms end = start + (sim::Ms)steps * 1000;
    sim::At(end + 500, [] { sim::DriverSetStatus(0, std::string(CALLER_ID_SIZE, '\0'), 0); });
    sim::At(end + 600, [] { sim::DismissInnermostMessageBox(); });
    g_done = false;
    sim::At(end + 700, [] { g_done = true; });
    sim::ModalLoop([] { return g_done; });

    if (strlen(CallerIdBuffer) > CALLER_ID_SIZE)
        Fail("the caller text outgrew the field", CallerIdBuffer);

    // The next input starts from a program that has seen nothing yet.
    CloseCallDialog();
    LastStatusWord = 0;
    DialogKind = 0;
    CountdownSeconds = 0;
    CountdownRunning = FALSE;
    CallerIdBuffer[0] = '\0';
    return 0;
}
