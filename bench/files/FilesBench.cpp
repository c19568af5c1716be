// How long the window's thread is held by a large play list or settings file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "settings/IniFile.h"
#include "ui/model/PlayList.h"

namespace brellin {
namespace {

class SilentHost : public PlayListHost {
public:
    void startPlayback() override {}
    void stopPlayback() override {}
    bool isPlaying() const override { return false; }
    void showTitle(const char*) override {}
    void rebuildRecentMenus(const TextBuffer*) override {}
};

// A file in the temporary folder, removed again with the benchmark.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& text) {
        char name[] = "/tmp/brellin-bench-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        path = name;
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
        ::close(fd);
    }
    ~ScratchFile() { std::remove(path.c_str()); }
    std::string path;
};

// A list of `count` different songs in a few folders, as a music collection gives them.
std::string playListText(std::int64_t count) {
    std::string text;
    char line[128];
    for (std::int64_t i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "/home/user/Music/Collection %03lld/Song number %06lld.mid\n",
                      static_cast<long long>(i / 500), static_cast<long long>(i));
        text += line;
    }
    return text;
}

void PlayListOpen(benchmark::State& state) {
    const ScratchFile file(playListText(state.range(0)));
    for (auto _ : state) {
        Settings settings;
        SilentHost host;
        PlayList list(settings, host);
        list.openPath(file.path.c_str());
        if (list.entryCount() != static_cast<std::uint32_t>(state.range(0))) state.SkipWithError("entries lost");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PlayListOpen)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void IniFileLoad(benchmark::State& state) {
    std::string text = "[Brellin]\n";
    char line[96];
    for (std::int64_t i = 1; i < state.range(0); ++i) {
        std::snprintf(line, sizeof line, "UnknownKey%06lld=a value of some length %lld\r\n", static_cast<long long>(i),
                      static_cast<long long>(i));
        text += line;
    }
    const ScratchFile file(text);
    for (auto _ : state) {
        IniFile ini;
        if (!ini.load(file.path.c_str())) state.SkipWithError("not loaded");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(IniFileLoad)->Arg(100000)->Unit(benchmark::kMillisecond);

// The settings as the window reads them at start, from a file whose keys
// of its own come after the unknown ones.
void SettingsLoad(benchmark::State& state) {
    std::string text = "[Brellin]\n";
    char line[96];
    for (std::int64_t i = 1; i < state.range(0); ++i) {
        std::snprintf(line, sizeof line, "UnknownKey%06lld=%lld\n", static_cast<long long>(i),
                      static_cast<long long>(i));
        text += line;
    }
    text += "SkinFileName=Brellin.ini\nVolume=100\nLastPlayFileName=/home/user/list.brl\n";
    const ScratchFile file(text);
    char startFile[MAX_PATH_LENGTH + 1];
    for (auto _ : state) {
        Settings settings;
        settings.loadSettingsFrom(file.path.c_str(), startFile, sizeof startFile, ScreenSize{1920, 1080});
        benchmark::DoNotOptimize(settings.Volume);
    }
}
BENCHMARK(SettingsLoad)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brellin
