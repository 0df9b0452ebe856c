#include "tools/render/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/render/song_file.h"

namespace {

constexpr int kBarWidth = 30;
constexpr char kBarFill[] = "##############################";

// What the terminal shows: lines above a progress bar that is redrawn in place.
class Display {
public:
    explicit Display(bool bar) : m_bar(bar) {}

    // A finished line, above the bar.
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "%s%s\n", m_drawn ? "\r\033[K" : "", text.c_str());
        m_drawn = false;
    }
    void Bar(const std::string& text) {
        if (!m_bar)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "\r%s", text.c_str());
        m_drawn = true;
    }
    // Leaves the last bar drawn as it is and moves below it.
    void End() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_drawn)
            std::fputc('\n', stderr);
        m_drawn = false;
    }
    bool Shown() const { return m_bar; }

private:
    const bool m_bar;
    bool m_drawn = false;
    std::mutex m_mutex;
};

std::string BarOf(double fraction) {
    const int filled = std::clamp(int(fraction * kBarWidth), 0, kBarWidth);
    char text[48];
    std::snprintf(text, sizeof text, "[%-*.*s]", kBarWidth, filled, kBarFill);
    return text;
}

// One song: the bar of the pass under way with its time and length, and which
// pass it is where there are several.
std::string SongBar(const JobProgress& p) {
    std::string text = BarOf(p.total > 0 ? double(p.done) / double(p.total) : 1.0) + " " +
                       FormatTime(p.done, p.rate) + " / " + FormatTime(p.total, p.rate) + " ";
    if (!p.label.empty())
        text += p.label + " (" + std::to_string(p.pass + 1) + " of " + std::to_string(p.passes) + ") ";
    return text + "\033[K";
}

// The summaries of the outputs written, then the failure that ended the job, if one did.
void Report(Display& display, const JobOutcome& outcome, bool quiet) {
    if (!quiet) {
        for (const std::string& line : outcome.summary)
            display.Line(line);
    }
    if (!outcome.error.empty())
        display.Line("tinsel-render: " + outcome.error);
}

int RunOne(const RenderJob& job, bool quiet) {
    Display display(!quiet && isatty(fileno(stderr)) != 0);
    int64_t shownAt = -1;
    int shownPass = -1;
    const JobOutcome outcome = RunJob(job, [&](const JobProgress& p) {
        // About ten updates a second of song; more would only cost time.
        if (!display.Shown() || (p.pass == shownPass && p.done < p.total && p.done - shownAt < p.rate / 10))
            return;
        shownAt = p.done;
        shownPass = p.pass;
        display.Bar(SongBar(p));
    });
    display.End();
    Report(display, outcome, quiet);
    return outcome.error.empty() ? 0 : 1;
}

} // namespace

int RunJobs(const std::vector<RenderJob>& jobs, int threads, bool quiet) {
    if (jobs.size() == 1)
        return RunOne(jobs[0], quiet);
    Display display(!quiet && isatty(fileno(stderr)) != 0);
    const size_t count = jobs.size();
    // Each job's share done, in thousandths, for the bar over all of them.
    std::unique_ptr<std::atomic<int>[]> shares(new std::atomic<int>[count]);
    for (size_t i = 0; i < count; ++i)
        shares[i] = 0;
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    std::mutex mutex;
    std::condition_variable finished;
    size_t done = 0;

    const auto draw = [&] {
        int64_t sum = 0;
        for (size_t i = 0; i < count; ++i)
            sum += shares[i].load();
        std::lock_guard<std::mutex> lock(mutex);
        display.Bar(BarOf(double(sum) / (1000.0 * double(count))) + " " + std::to_string(done) + " of " +
                    std::to_string(count) + " songs \033[K");
    };
    auto drawnAt = std::chrono::steady_clock::now();
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < count;) {
            const JobOutcome outcome = RunJob(jobs[i], [&](const JobProgress& p) {
                const double passDone = p.total > 0 ? double(p.done) / double(p.total) : 1.0;
                shares[i] = int(1000 * (p.pass + passDone) / p.passes);
                // On one thread the bar is drawn from here, ten times a second.
                if (threads <= 1 && display.Shown() &&
                    std::chrono::steady_clock::now() - drawnAt > std::chrono::milliseconds(100)) {
                    drawnAt = std::chrono::steady_clock::now();
                    draw();
                }
            });
            shares[i] = 1000;
            if (!outcome.error.empty())
                failures.fetch_add(1);
            Report(display, outcome, quiet);
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++done;
            }
            finished.notify_all();
            if (threads <= 1)
                draw();
        }
    };

    if (threads <= 1) {
        work();
    } else {
        std::vector<std::thread> workers;
        for (size_t t = 0; t < std::min<size_t>(size_t(threads), count); ++t)
            workers.emplace_back(work);
        std::unique_lock<std::mutex> lock(mutex);
        while (done < count) {
            finished.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            draw();
            lock.lock();
        }
        lock.unlock();
        for (std::thread& worker : workers)
            worker.join();
    }
    draw();
    display.End();
    return failures.load();
}
