#include "engine/RenderBatch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "midi/MidiFileInfo.h"

namespace brellin {
namespace {

constexpr const char* programName = "brellin-render";

std::string clockText(std::uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned long long>((ms / 1000) % 60));
    return text;
}

// Where one worker's song is, for the progress line.
struct WorkerProgress : RenderProgress {
    std::atomic<std::uint32_t> elapsed{0};
    void songProgress(std::uint32_t elapsedMs, std::uint32_t) override {
        elapsed.store(elapsedMs, std::memory_order_relaxed);
    }
};

// stderr shared by the workers and the progress line: a message first
// clears the line, which the next redraw brings back.
class Terminal {
public:
    explicit Terminal(bool showProgress) : progress(showProgress) {}
    void message(const std::string& text) {
        std::lock_guard<std::mutex> guard(mutex);
        std::fprintf(stderr, "%s%s\n", lineShown ? "\r\033[K" : "", text.c_str());
        std::fflush(stderr);
        lineShown = false;
    }
    void line(const std::string& text, bool last) {
        std::lock_guard<std::mutex> guard(mutex);
        if (!progress || (text == shown && lineShown && !last)) return;
        std::fprintf(stderr, "\r\033[K%s%s", text.c_str(), last ? "\n" : "");
        std::fflush(stderr);
        shown = text;
        lineShown = !last;
    }

private:
    std::mutex mutex;
    bool progress;
    bool lineShown = false;
    std::string shown;
};

}  // namespace

std::vector<std::string> batchFileNames(const std::vector<std::string>& songs, SoundFileType type) {
    const std::string extension = std::string(".") + soundFileExtension(type);
    std::vector<std::string> stems;
    std::multiset<std::string> natural;
    for (const std::string& song : songs) {
        std::string stem = std::filesystem::path(song).stem().string();
        if (stem.empty()) stem = "song";
        stems.push_back(stem);
        natural.insert(stem);
    }
    std::set<std::string> used;
    std::vector<std::string> names;
    for (const std::string& stem : stems) {
        std::string name = stem;
        for (std::uint32_t n = 2; used.count(name) != 0 || (name != stem && natural.count(name) != 0); ++n) {
            name = stem + "-" + std::to_string(n);
        }
        used.insert(name);
        names.push_back(name + extension);
    }
    return names;
}

RenderBatch::RenderBatch(const RenderOptions& newOptions, std::string newFolder, SoundFileType newType,
                         std::uint32_t newJobs)
    : options(newOptions), folder(std::move(newFolder)), type(newType), jobs(std::max<std::uint32_t>(1, newJobs)) {}

BatchOutcome RenderBatch::run(const std::vector<BatchSong>& songs) {
    std::vector<std::string> paths;
    for (const BatchSong& song : songs) paths.push_back(song.path);
    const std::vector<std::string> names = batchFileNames(paths, type);
    const bool progress = options.progress;
    Terminal terminal(progress);

    // The lengths for the progress line, each cut as the render cuts it.
    std::vector<std::uint32_t> lengths(songs.size(), 0);
    std::uint64_t totalMs = 0;
    if (progress) {
        const std::uint64_t limit = static_cast<std::uint64_t>(options.maxLengthMinutes) * 60000;
        for (std::size_t i = 0; i < songs.size(); ++i) {
            MidiFileInfo info;
            if (songs[i].readable && scanMidiFile(songs[i].path.c_str(), info)) {
                lengths[i] = static_cast<std::uint32_t>(limit != 0 ? std::min<std::uint64_t>(info.playingTime, limit)
                                                                   : info.playingTime);
            }
            totalMs += lengths[i];
        }
    }

    const std::uint32_t workerCount =
        static_cast<std::uint32_t>(std::min<std::size_t>(jobs, std::max<std::size_t>(1, songs.size())));
    std::vector<std::unique_ptr<WorkerProgress>> slots;
    for (std::uint32_t i = 0; i < workerCount; ++i) slots.push_back(std::make_unique<WorkerProgress>());
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint32_t> rendered{0}, failed{0}, finished{0};
    std::atomic<std::uint64_t> doneMs{0};
    std::atomic<bool> engineFailed{false};

    auto renderOne = [&](std::size_t index, WorkerProgress& slot) {
        const BatchSong& song = songs[index];
        const std::string target = (std::filesystem::path(folder) / names[index]).string();
        if (!song.readable) {
            terminal.message(std::string(programName) + ": " + song.path + ": Unsupported data.");
            failed.fetch_add(1);
            return;
        }
        RenderOptions songOptions = options;
        songOptions.outputPath = target;
        songOptions.outputType = type;
        songOptions.progress = false;
        songOptions.progressSink = &slot;
        std::string error;
        bool played = false;
        {
            RenderSession session(songOptions);
            if (!session.start(error)) {
                terminal.message(std::string(programName) + ": " + error);
                failed.fetch_add(1);
                if (session.failedStage() != EngineStage::Output) engineFailed.store(true);
                std::error_code ignored;
                std::filesystem::remove(target, ignored);
                return;
            }
            played = session.playFile(song.path);
            if (!played) {
                terminal.message(std::string(programName) + ": " + song.path + ": Unsupported data.");
            } else if (session.lastSongCut) {
                terminal.message(std::string(programName) + ": " + song.path + ": stopped after " +
                                 clockText(session.lastSongClock) + "; the file claims " +
                                 clockText(session.lastSongClaimed));
            }
            if (!session.finish(error)) {
                terminal.message(std::string(programName) + ": " + error);
                played = false;
            }
        }
        if (played) {
            rendered.fetch_add(1);
        } else {
            failed.fetch_add(1);
            std::error_code ignored;
            std::filesystem::remove(target, ignored);
        }
    };

    std::vector<std::thread> workers;
    for (std::uint32_t w = 0; w < workerCount; ++w) {
        workers.emplace_back([&, w] {
            WorkerProgress& slot = *slots[w];
            for (;;) {
                if (engineFailed.load()) break;
                const std::size_t index = next.fetch_add(1);
                if (index >= songs.size()) break;
                slot.elapsed.store(0, std::memory_order_relaxed);
                renderOne(index, slot);
                doneMs.fetch_add(lengths[index]);
                slot.elapsed.store(0, std::memory_order_relaxed);
                finished.fetch_add(1);
            }
        });
    }

    const auto total = static_cast<std::uint32_t>(songs.size());
    auto progressLine = [&] {
        std::uint64_t at = doneMs.load();
        for (const auto& slot : slots) at += slot->elapsed.load(std::memory_order_relaxed);
        at = std::min(at, totalMs);
        return std::to_string(finished.load()) + "/" + std::to_string(total) + " songs  " + clockText(at) + " / " +
               clockText(totalMs);
    };
    if (progress) {
        while (finished.load() < total && !engineFailed.load()) {
            terminal.line(progressLine(), false);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    for (std::thread& worker : workers) worker.join();
    if (progress) terminal.line(progressLine(), true);

    BatchOutcome outcome;
    outcome.rendered = rendered.load();
    outcome.failed = failed.load();
    outcome.engineFailed = engineFailed.load();
    return outcome;
}

}  // namespace brellin
