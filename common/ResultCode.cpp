#include "common/ResultCode.h"

namespace brellin {

namespace {

constexpr ResultCodeInfo RESULT_CODE_TABLE[] = {
    {RESULT_OK, "RESULT_OK", "success"},
    {RESULT_FAILED, "RESULT_FAILED", "failure without a more specific code"},
    {RESULT_UNSUPPORTED_FORMAT, "RESULT_UNSUPPORTED_FORMAT",
     "unsupported format (output rate, channel count, window or surface set-up)"},
    {RESULT_DEVICE_ERROR, "RESULT_DEVICE_ERROR", "the sound device cannot be opened or fed"},
    {RESULT_OUT_OF_MEMORY, "RESULT_OUT_OF_MEMORY", "out of memory, or a composed path or line does not fit its buffer"},
    {RESULT_CANNOT_OPEN_FILE, "RESULT_CANNOT_OPEN_FILE", "a file cannot be opened"},
    {RESULT_FILE_IO_ERROR, "RESULT_FILE_IO_ERROR",
     "a read or write failed or was short, or the file's data cannot be loaded"},
    {RESULT_BUSY, "RESULT_BUSY", "a sound source was asked for new data while playing its own"},
    {RESULT_NOT_FOUND, "RESULT_NOT_FOUND", "a position or key outside a list"},
    {RESULT_UNSUPPORTED_DATA, "RESULT_UNSUPPORTED_DATA",
     "unrecognised data (sound font magic, font), or the sound output cannot be opened"},
    {RESULT_NO_SOUND_FONT, "RESULT_NO_SOUND_FONT",
     "no loadable sound font was found, or the end of the input was reached"},
};

const ResultCodeInfo* find(ResultCode code) {
    for (const auto& entry : RESULT_CODE_TABLE) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

}  // namespace

const ResultCodeInfo* resultCodeTable(int* count) {
    if (count) *count = static_cast<int>(sizeof RESULT_CODE_TABLE / sizeof RESULT_CODE_TABLE[0]);
    return RESULT_CODE_TABLE;
}

const char* resultCodeName(ResultCode code) {
    const ResultCodeInfo* entry = find(code);
    return entry ? entry->name : "RESULT_UNKNOWN";
}

const char* resultCodeMeaning(ResultCode code) {
    const ResultCodeInfo* entry = find(code);
    return entry ? entry->meaning : "unknown result code";
}

}  // namespace brellin
