// The stream operations on two real threads at once: one restarting the streams as fast as it can,
// as the watch thread does on every request, the other completing buffers and handling their notices,
// as the window's thread does. Run under ThreadSanitizer by the host-tsan preset.
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "speaker_support.h"

namespace {

constexpr int kRestarts = 1500;

}  // namespace

TEST(ThreadsSpeaker, RestartsAsFastAsPossibleWhileNoticesFlowNeverMisuseADevice)
{
    ASSERT_TRUE(support::InChild([] {
        std::mutex queue_mu;
        std::deque<spk::Notice> queue;
        sim::SoundKeepCalls(true);
        // Notices go to this queue instead of a window: the world schedules neither thread.
        sim::SoundSetNoticeSink([&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
            std::lock_guard<std::mutex> lock(queue_mu);
            queue.push_back(spk::Notice{msg, wParam, lParam});
        });
        SpkLockMem *b = spk::NewBlock();
        ASSERT_NE(b, nullptr);
        HWND window = (HWND)0x1002;

        std::atomic<bool> restarting{true};
        std::atomic<int> handled{0}, completed{0};
        std::thread watch([&] {
            for (int i = 0; i < kRestarts; ++i) {
                StopPlayback();
                StopRecord();
                StartPlayback(window);
                StartRecord(window);
            }
            restarting = false;
        });
        std::thread host([&] {
            for (;;) {
                bool more = restarting.load();
                completed += sim::SoundCompleteOldest(true);
                completed += sim::SoundCompleteOldest(false);
                for (;;) {
                    spk::Notice n;
                    {
                        std::lock_guard<std::mutex> lock(queue_mu);
                        if (queue.empty())
                            break;
                        n = queue.front();
                        queue.pop_front();
                    }
                    RouteWaveMessage(n.msg, n.wParam, n.lParam);
                    ++handled;
                }
                if (!more)
                    break;
            }
        });
        watch.join();
        host.join();

        // Nothing either thread did was refused: no header was queued on a device being reset or
        // closed, none before it was prepared, no device was used after its close.
        EXPECT_EQ(spk::Refusals(), 0);
        size_t starts = 0, writes = 0, adds = 0;
        for (const sim::SoundCall &c : sim::SoundCalls()) {
            starts += c.call == "waveOutRestart";
            writes += c.call == "waveOutWrite";
            adds += c.call == "waveInAddBuffer";
            if (c.result != MMSYSERR_NOERROR)
                ADD_FAILURE() << c.call << " " << spk::HeaderName(c.header) << " refused with " << c.result;
        }
        EXPECT_EQ(starts, (size_t)kRestarts);
        // The rings turned between restarts: writes and adds beyond those of the starts.
        EXPECT_GT(writes, starts * 4) << "no playback notice moved the ring";
        EXPECT_GT(adds, starts * 2) << "no record notice moved the ring";
        EXPECT_GT(handled.load(), kRestarts);
        EXPECT_GT(completed.load(), 0);

        StopPlayback();
        StopRecord();
        EXPECT_FALSE(sim::SoundDeviceOpen(true));
        EXPECT_FALSE(sim::SoundDeviceOpen(false));
        for (int k = 0; k < PLAY_BUFFERS; ++k)
            EXPECT_FALSE(b->PlayHdr[k].dwFlags & WHDR_PREPARED) << "playback header " << k;
        for (int k = 0; k < REC_BUFFERS; ++k)
            EXPECT_FALSE(b->RecHdr[k].dwFlags & WHDR_PREPARED) << "record header " << k;
    }));
}
