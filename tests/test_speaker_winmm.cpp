// The sound card double as only the world shows it: machines without devices or the format, timing
// in virtual time, the microphone in real time, underruns and overruns, faults, WAV files. (Header
// flags, error codes and the order of notices are the conformance suite's, tests/conformance/.)
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
        // The sequence says every non-zero 16-bit value once a period, and never zero: each sample
        // tells where it stands.
        sim::Signal sequence;
        sequence.kind = sim::Signal::Sequence;
        ASSERT_EQ(sim::SignalPeriod(sequence), 65535);
        std::vector<bool> said(65536, false);
        for (int64_t n = 0; n < 65535; ++n) {
            int16_t v = sim::SignalSample(sequence, n);
            ASSERT_NE(v, 0) << n;
            ASSERT_FALSE(said[(uint16_t)v]) << "said twice in a period: " << v;
            said[(uint16_t)v] = true;
            ASSERT_EQ(sim::SequencePosition(v), n);
        }
        EXPECT_EQ(sim::SignalSample(sequence, 65535 * 70 + 12), sim::SignalSample(sequence, 12));
        EXPECT_EQ(sim::SequencePosition(0), -1);
        EXPECT_EQ(sim::SignalPeriod(tone), 8);
        tone.hz = 440;
        EXPECT_EQ(sim::SignalPeriod(tone), 200);
        EXPECT_EQ(sim::SignalSample(tone, 200 + 37), sim::SignalSample(tone, 37));
        EXPECT_EQ(sim::SignalPeriod(counter), 65536);

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
        EXPECT_EQ(sim::SignalPeriod(wav), 5);
        // Another rate, two channels or another sample format: the scenario's fault, named by file,
        // line and key.
        struct Other {
            int rate, channels, format;
        };
        for (Other o : {Other{16000, 1, SF_FORMAT_PCM_16}, Other{8000, 2, SF_FORMAT_PCM_16}, Other{8000, 1, SF_FORMAT_PCM_U8},
                        Other{8000, 1, SF_FORMAT_FLOAT}}) {
            std::string other = std::string(dir) + "/other.wav";
            SF_INFO oi{};
            oi.samplerate = o.rate;
            oi.channels = o.channels;
            oi.format = SF_FORMAT_WAV | o.format;
            SNDFILE *of = sf_open(other.c_str(), SFM_WRITE, &oi);
            ASSERT_NE(of, nullptr) << o.rate << " " << o.channels << " " << o.format;
            std::vector<short> frames(16 * (size_t)o.channels, 100);
            sf_writef_short(of, frames.data(), 16);
            sf_close(of);
            sim::Signal bad;
            bad.kind = sim::Signal::Wav;
            bad.path = "other.wav";
            bad.line = 7;
            try {
                sim::LoadSignal(bad, std::string(dir) + "/call.yaml", "driver.mic");
                ADD_FAILURE() << "accepted " << o.rate << " Hz, " << o.channels << " channel(s), format " << o.format;
            } catch (const sim::ScenarioError &e) {
                EXPECT_NE(std::string(e.what()).find("/call.yaml:7: key 'driver.mic': WAV file"), std::string::npos)
                    << e.what();
            }
            unlink(other.c_str());
        }
        unlink(path.c_str());
        rmdir(dir);
    }));
}
