// The sound card double behaves as the real wave interface does: header flags, error codes, notices
// and their order, timing in virtual time, the microphone in real time, faults, WAV files.
#include <sndfile.h>

#include <cstring>

#include "speaker_support.h"

namespace {

WAVEFORMATEX Speakerphone()
{
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 16000;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    return f;
}

struct Buffer {
    short samples[1024];
    WAVEHDR header;
    explicit Buffer(int bytes = 2048)
    {
        memset(samples, 0, sizeof(samples));
        memset(&header, 0, sizeof(header));
        header.lpData = (LPSTR)samples;
        header.dwBufferLength = (DWORD)bytes;
    }
};

HWAVEOUT OpenOut(HWND hwnd)
{
    WAVEFORMATEX f = Speakerphone();
    HWAVEOUT h = NULL;
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW), (MMRESULT)MMSYSERR_NOERROR);
    return h;
}

HWAVEIN OpenIn(HWND hwnd)
{
    WAVEFORMATEX f = Speakerphone();
    HWAVEIN h = NULL;
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW), (MMRESULT)MMSYSERR_NOERROR);
    return h;
}

}  // namespace

TEST(SimSoundCard, HeaderFlagsMoveAsTheRealInterfaceMovesThem)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEOUT h = OpenOut(hwnd);
            Buffer a;
            ASSERT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)WHDR_PREPARED);
            ASSERT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_PREPARED | WHDR_INQUEUE));
            // A second write of a queued header is refused and changes nothing.
            EXPECT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_PREPARED | WHDR_INQUEUE));
            // Unpreparing a queued header is refused too.
            EXPECT_EQ(waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
            spk::Pump(hwnd, 200);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            ASSERT_EQ(waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)WHDR_DONE);
            // Unpreparing a header that is not prepared succeeds and leaves it as it is.
            EXPECT_EQ(waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)WHDR_DONE);
            // Preparing starts the header afresh; preparing a prepared one does nothing.
            a.header.dwFlags |= WHDR_INQUEUE;
            EXPECT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)WHDR_PREPARED);
            a.header.dwFlags |= WHDR_INQUEUE;
            EXPECT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_PREPARED | WHDR_INQUEUE));
            a.header.dwFlags &= ~(WHDR_INQUEUE | WHDR_DONE);
            EXPECT_EQ(waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(a.header.dwFlags, 0u);
            EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
        });
    }));
}

TEST(SimSoundCard, DocumentedErrorCodes)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            WAVEFORMATEX f = Speakerphone();
            Buffer a;
            // Before any open, and after a close, the handle is no device.
            EXPECT_EQ(waveOutPrepareHeader((HWAVEOUT)0xC000, &a.header, sizeof(WAVEHDR)),
                      (MMRESULT)MMSYSERR_INVALHANDLE);
            EXPECT_EQ(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_INVALPARAM);
            EXPECT_EQ(waveOutOpen(NULL, WAVE_MAPPER, NULL, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)MMSYSERR_INVALPARAM);
            HWAVEOUT h = OpenOut(hwnd);
            EXPECT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
            EXPECT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR) - 1), (MMRESULT)MMSYSERR_INVALPARAM);
            EXPECT_EQ(waveOutPrepareHeader(h, NULL, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_INVALPARAM);
            ASSERT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutClose(h), (MMRESULT)WAVERR_STILLPLAYING);
            EXPECT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_INVALHANDLE);
            EXPECT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_INVALHANDLE);
            EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_INVALHANDLE);
            // A window that does not exist cannot receive notices.
            HWAVEOUT h2 = NULL;
            EXPECT_EQ(waveOutOpen(&h2, WAVE_MAPPER, &f, (DWORD_PTR)0x7777, 0, CALLBACK_WINDOW),
                      (MMRESULT)MMSYSERR_INVALPARAM);
            HWAVEIN in = OpenIn(hwnd);
            EXPECT_EQ(waveInAddBuffer(in, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
            EXPECT_EQ(waveInStart((HWAVEIN)h), (MMRESULT)MMSYSERR_INVALHANDLE) << "an output handle is no input";
            EXPECT_EQ(waveInClose(in), (MMRESULT)MMSYSERR_NOERROR);
        });
    }));
}

TEST(SimSoundCard, FormatQueryOpensNothingAndTellsNoOne)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            WAVEFORMATEX f = Speakerphone();
            HWAVEOUT h = (HWAVEOUT)0xdeadf00d;
            EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)hwnd, 0, CALLBACK_WINDOW | WAVE_FORMAT_QUERY),
                      (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(h, (HWAVEOUT)0xdeadf00d);
            EXPECT_FALSE(sim::SoundDeviceOpen(true));
            spk::Pump(hwnd, 20);
            EXPECT_TRUE(spk::Notices().empty());
            f.wFormatTag = 2;  // not PCM
            EXPECT_EQ(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)WAVERR_BADFORMAT);
        });
    }));
}

TEST(SimSoundCard, MachinesWithoutDevicesOrWithoutTheFormat)
{
    ASSERT_TRUE(support::InChild([] {
        sim::SoundConfigure(false, false, true);
        spk::RunWorld([] {
            WAVEFORMATEX f = Speakerphone();
            HWAVEOUT out = NULL;
            HWAVEIN in = NULL;
            EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NODRIVER);
            EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NODRIVER);
            EXPECT_EQ(out, (HWAVEOUT)NULL);
            sim::SoundConfigure(true, true, false);
            EXPECT_EQ(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)WAVERR_BADFORMAT);
            EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)WAVERR_BADFORMAT);
            f.nSamplesPerSec = 44100;
            f.nAvgBytesPerSec = 88200;
            EXPECT_EQ(waveOutOpen(NULL, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)MMSYSERR_NOERROR);
        });
    }));
}

TEST(SimSoundCard, NoticesComeInWin32OrderWithDeviceAndHeader)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEOUT h = OpenOut(hwnd);
            Buffer a, b, c;
            for (Buffer *x : {&a, &b, &c})
                waveOutPrepareHeader(h, &x->header, sizeof(WAVEHDR));
            waveOutWrite(h, &a.header, sizeof(WAVEHDR));
            waveOutWrite(h, &b.header, sizeof(WAVEHDR));
            waveOutWrite(h, &c.header, sizeof(WAVEHDR));
            spk::Pump(hwnd, 128 + 5);  // one buffer played
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            EXPECT_EQ(b.header.dwFlags & WHDR_INQUEUE, (DWORD)WHDR_INQUEUE);
            // The reset hands back the other two at once, in queue order, each with a notice.
            EXPECT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(b.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            EXPECT_EQ(c.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            for (Buffer *x : {&a, &b, &c})
                waveOutUnprepareHeader(h, &x->header, sizeof(WAVEHDR));
            EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
            spk::Pump(hwnd, 10);
            auto &n = spk::Notices();
            ASSERT_EQ(n.size(), 5u);
            EXPECT_EQ(n[0].msg, (UINT)MM_WOM_OPEN);
            EXPECT_EQ(n[0].wParam, (WPARAM)h);
            EXPECT_EQ(n[1].msg, (UINT)MM_WOM_DONE);
            EXPECT_EQ(n[1].lParam, (LPARAM)&a.header);
            EXPECT_EQ(n[2].lParam, (LPARAM)&b.header);
            EXPECT_EQ(n[3].lParam, (LPARAM)&c.header);
            EXPECT_EQ(n[3].wParam, (WPARAM)h);
            EXPECT_EQ(n[4].msg, (UINT)MM_WOM_CLOSE);
            // Opened again, the device has the same handle.
            HWAVEOUT again = OpenOut(hwnd);
            EXPECT_EQ(again, h);
            waveOutClose(again);
        });
    }));
}

TEST(SimSoundCard, PlaysInVirtualTimePausesAndCountsUnderruns)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEOUT h = OpenOut(hwnd);
            Buffer a, b;
            for (int k = 0; k < 1024; ++k)
                a.samples[k] = (short)k, b.samples[k] = (short)-k;
            waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR));
            waveOutPrepareHeader(h, &b.header, sizeof(WAVEHDR));
            waveOutPause(h);
            waveOutWrite(h, &a.header, sizeof(WAVEHDR));
            spk::Pump(hwnd, 300);
            EXPECT_EQ(a.header.dwFlags & WHDR_DONE, 0u) << "a paused device plays nothing";
            sim::Ms start = sim::Now();
            waveOutRestart(h);
            waveOutWrite(h, &b.header, sizeof(WAVEHDR));
            spk::Pump(hwnd, 127);
            EXPECT_EQ(a.header.dwFlags & WHDR_DONE, 0u) << "2,048 bytes take 128 ms";
            spk::Pump(hwnd, 10);  // the shortest a window timer waits
            EXPECT_EQ(a.header.dwFlags & WHDR_DONE, (DWORD)WHDR_DONE);
            EXPECT_EQ(sim::SoundUnderruns(), 0);
            spk::Pump(hwnd, 130);
            EXPECT_EQ(sim::SoundUnderruns(), 1) << "the queue ran dry while playing";
            EXPECT_EQ(sim::Now() - start, 127 + 10 + 130);
            const auto &played = sim::SoundSessions(true).back().samples;
            ASSERT_EQ(played.size(), 2048u);
            EXPECT_EQ(played[5], 5);
            EXPECT_EQ(played[1024 + 5], -5);
            EXPECT_EQ(sim::SoundFrames(true), 2048);
            waveOutUnprepareHeader(h, &a.header, sizeof(WAVEHDR));
            waveOutUnprepareHeader(h, &b.header, sizeof(WAVEHDR));
            waveOutClose(h);
        });
    }));
}

TEST(SimSoundCard, RecordsTheMicrophoneInRealTimeStopAndResetHandBuffersBack)
{
    ASSERT_TRUE(support::InChild([] {
        sim::Signal counter;
        counter.kind = sim::Signal::Counter;
        sim::SoundSetMic(counter);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEIN h = OpenIn(hwnd);
            Buffer a(1024), b(1024), c(1024);
            for (Buffer *x : {&a, &b, &c}) {
                waveInPrepareHeader(h, &x->header, sizeof(WAVEHDR));
                x->header.dwBytesRecorded = 99;
                waveInAddBuffer(h, &x->header, sizeof(WAVEHDR));
                EXPECT_EQ(x->header.dwBytesRecorded, 0u);
            }
            spk::Pump(hwnd, 100);
            EXPECT_EQ(a.header.dwFlags & WHDR_DONE, 0u) << "nothing is recorded before waveInStart";
            sim::Ms start = sim::Now();
            waveInStart(h);
            spk::Pump(hwnd, 64 + 16);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            EXPECT_EQ(a.header.dwBytesRecorded, 1024u);
            // The microphone's sample at t ms is number t * 8.
            EXPECT_EQ(a.samples[0], (short)(start * 8));
            EXPECT_EQ(a.samples[511], (short)(start * 8 + 511));
            // The stop hands back the buffer being filled with what it holds; the rest stay queued.
            waveInStop(h);
            EXPECT_EQ(b.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            EXPECT_EQ(b.header.dwBytesRecorded, 16u * 8 * 2);
            EXPECT_EQ(b.samples[0], (short)(start * 8 + 512));
            EXPECT_EQ(c.header.dwFlags, (DWORD)(WHDR_INQUEUE | WHDR_PREPARED));
            EXPECT_EQ(waveInClose(h), (MMRESULT)WAVERR_STILLPLAYING);
            waveInReset(h);
            EXPECT_EQ(c.header.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
            EXPECT_EQ(c.header.dwBytesRecorded, 0u);
            for (Buffer *x : {&a, &b, &c})
                waveInUnprepareHeader(h, &x->header, sizeof(WAVEHDR));
            EXPECT_EQ(waveInClose(h), (MMRESULT)MMSYSERR_NOERROR);
            spk::Pump(hwnd, 10);
            EXPECT_EQ(spk::CountNotices(MM_WIM_DATA), 3);
            EXPECT_EQ(spk::CountNotices(MM_WIM_OPEN), 1);
            EXPECT_EQ(spk::CountNotices(MM_WIM_CLOSE), 1);
            EXPECT_EQ(sim::SoundOverruns(), 0);
        });
    }));
}

TEST(SimSoundCard, InputWithNoBufferLeftCountsAnOverrun)
{
    ASSERT_TRUE(support::InChild([] {
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEIN h = OpenIn(hwnd);
            Buffer a(1024);
            waveInPrepareHeader(h, &a.header, sizeof(WAVEHDR));
            waveInAddBuffer(h, &a.header, sizeof(WAVEHDR));
            waveInStart(h);
            spk::Pump(hwnd, 200);
            EXPECT_EQ(sim::SoundOverruns(), 1);
            EXPECT_EQ(sim::SoundFrames(false), 512);
            waveInReset(h);
            waveInUnprepareHeader(h, &a.header, sizeof(WAVEHDR));
            waveInClose(h);
        });
    }));
}

TEST(SimSoundCard, FaultsHitTheNamedCallAtItsOccurrence)
{
    ASSERT_TRUE(support::InChild([] {
        sim::AddFault("waveOutPrepareHeader", 2, 1, MMSYSERR_NOMEM);
        spk::RunWorld([] {
            HWND hwnd = spk::NoticeWindow();
            HWAVEOUT h = OpenOut(hwnd);
            Buffer a, b, c;
            EXPECT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutPrepareHeader(h, &b.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOMEM);
            EXPECT_EQ(b.header.dwFlags, 0u) << "a refused call changes nothing";
            EXPECT_EQ(waveOutPrepareHeader(h, &c.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
            bool traced = false;
            for (auto &e : spk::Trace())
                traced = traced || (e["ev"] == "fault" && e["call"] == "waveOutPrepareHeader" && e["n"] == 2);
            EXPECT_TRUE(traced);
        });
    }));
}

TEST(SimSoundCard, SignalsAreTheSameEveryTimeAndWavFilesRoundTrip)
{
    ASSERT_TRUE(support::InChild([] {
        sim::Signal tone;
        tone.kind = sim::Signal::Tone;
        tone.hz = 1000;
        // 1 kHz at 8 kHz: eight samples a period.
        EXPECT_EQ(sim::SignalSample(tone, 0), 0);
        EXPECT_EQ(sim::SignalSample(tone, 2), 12000);
        EXPECT_EQ(sim::SignalSample(tone, 6), -12000);
        EXPECT_EQ(sim::SignalSample(tone, 8 * 1000000 + 2), 12000) << "exact however long the call";
        sim::Signal counter;
        counter.kind = sim::Signal::Counter;
        EXPECT_EQ(sim::SignalSample(counter, 65535), -1);
        EXPECT_EQ(sim::SignalSample(counter, 65536 + 7), 7);
        EXPECT_EQ(sim::SignalSample(sim::Signal{}, 1234), 0);

        char dir[] = "/tmp/spk-wav-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        std::string path = std::string(dir) + "/line.wav";
        std::vector<int16_t> samples = {1, -2, 3, -4, 5};
        ASSERT_TRUE(sim::WriteWav(path, samples));
        SF_INFO info{};
        SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(info.samplerate, 8000);
        EXPECT_EQ(info.channels, 1);
        std::vector<int16_t> back(5);
        EXPECT_EQ(sf_readf_short(f, back.data(), 5), 5);
        sf_close(f);
        EXPECT_EQ(back, samples);
        // A WAV file as a signal says its samples again and again; a relative path is the scenario's.
        sim::Signal wav;
        wav.kind = sim::Signal::Wav;
        wav.path = "line.wav";
        sim::LoadSignal(wav, std::string(dir) + "/call.yaml", "driver.line");
        EXPECT_EQ(sim::SignalSample(wav, 1), -2);
        EXPECT_EQ(sim::SignalSample(wav, 5 + 2), 3);
        sim::Signal missing;
        missing.kind = sim::Signal::Wav;
        missing.path = "/nonexistent/x.wav";
        EXPECT_THROW(sim::LoadSignal(missing, "call.yaml", "driver.mic"), sim::ScenarioError);
        unlink(path.c_str());
        rmdir(dir);
    }));
}
