// brf-tool info: describes a BRF file as the loader sees it and lists every
// repair the loader had to make.
#include <algorithm>
#include <cstdio>

#include "BrfTool.h"
#include "common/ResultCode.h"
#include "fontmaker/GeneralMidiFont.h"
#include "soundfont/SoundFont.h"

namespace brellin::brftool {

namespace {

// The sample index of a loaded record, or -1 for the silent sample.
long sampleIndexOf(const SoundFont& font, const InstrumentRecord& record) {
    std::uint32_t lo = 0, hi = font.sampleCount;
    const std::uint32_t offset = static_cast<std::uint32_t>(record.sample);
    while (lo < hi) {
        std::uint32_t mid = lo + (hi - lo) / 2;
        if (font.sampleOffset(mid) < offset)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < font.sampleCount && font.sampleOffset(lo) == offset ? static_cast<long>(lo) : -1;
}

void printRecord(const SoundFont& font, const InstrumentRecord& r) {
    long index = sampleIndexOf(font, r);
    if (r.fixedStep == 0) {
        std::printf(
            "pitched sample %ld cycle %u loop %u-%u attack %d/%d decay %d/%d %d/%d %d release %d "
            "lfo delay %d depth %d step %d shift %d group %d",
            index, r.cycleLength, r.loopStart, r.loopEnd, r.attackRate, r.attackLevel, r.decay1Rate, r.decay1Level,
            r.decay2Rate, r.decay2Level, r.decay3Rate, r.releaseRate, r.lfoDelay, r.lfoDepth, r.lfoDepthStep,
            r.lfoRateShift, r.groupId);
    } else {
        std::printf("fixed-step sample %ld end %u step held %.4f released %.4f group %d", index, r.cycleLength,
                    r.lfoDepthStep / 65536.0, r.lfoDepth / 65536.0, r.groupId);
    }
}

}  // namespace

int infoCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: brf-tool info FILE.brf\n");
        return 2;
    }
    SoundFont font;
    SoundFontDiagnostics diagnostics;
    if (!font.loadSoundFont(argv[0], &diagnostics)) {
        std::printf("%s: does not load: %s (0x%08X) %s\n", argv[0], resultCodeName(font.lastError),
                    static_cast<unsigned>(font.lastError), resultCodeMeaning(font.lastError));
        return 2;
    }
    std::printf("file        %s\n", argv[0]);
    std::printf("magic       %.4s (%u-byte records)\n", font.magic, font.magic[3] == '0' ? 64u : 72u);
    std::printf("size field  %u\n", font.sizeField);
    std::printf("regions     %d\nkits        %d\nsamples     %u\n", font.drumRegionCount, font.drumKitCount,
                font.sampleCount);
    std::printf("sample block %u bytes (with guard bytes)\n", font.sampleBlockSize);
    std::uint64_t total = 0;
    std::uint32_t longest = 0;
    for (std::uint32_t n = 0; n < font.sampleCount; ++n) {
        total += font.sampleLength(n);
        longest = std::max(longest, font.sampleLength(n));
    }
    std::printf("sample bytes %llu, longest sample %u\n", static_cast<unsigned long long>(total), longest);
    for (std::uint32_t n = 0; n < font.sampleCount; ++n)
        std::printf("sample %u: %u bytes at %u\n", n, font.sampleLength(n), font.sampleOffset(n));
    for (std::uint32_t k = 0; k < SoundFont::PROGRAM_COUNT; ++k) {
        std::printf("program %3u %-24s ", k, generalMidiProgramName(static_cast<int>(k)));
        printRecord(font, font.programs[k]);
        if (font.drumKitCount > 1) std::printf(" kit %u", font.programKits[k]);
        std::printf("\n");
    }
    for (std::int32_t j = 0; j < font.drumRegionCount; ++j) {
        std::printf("region %3d ", j);
        std::string keys;
        for (std::int32_t kit = 0; kit < font.drumKitCount; ++kit)
            for (std::uint32_t key = 0; key < SoundFont::KEY_COUNT; ++key)
                if (font.drumKitMaps[static_cast<std::uint32_t>(kit) * SoundFont::KEY_COUNT + key] ==
                    static_cast<std::uint32_t>(j))
                    keys += (keys.empty() ? "" : ",") + std::to_string(kit) + ":" + std::to_string(key);
        printRecord(font, font.drumRegions[static_cast<std::size_t>(j)]);
        std::printf(" keys %s\n", keys.empty() ? "-" : keys.c_str());
    }
    for (const std::string& note : diagnostics.notes) std::printf("note: %s\n", note.c_str());
    for (const std::string& problem : diagnostics.problems) std::printf("problem: %s\n", problem.c_str());
    std::printf("%zu problem(s), %zu note(s)\n", diagnostics.problems.size(), diagnostics.notes.size());
    return diagnostics.problems.empty() ? 0 : 1;
}

}  // namespace brellin::brftool
