// ResultCode: the program's one table of failure codes.
//
// 0 is success and every failure has bit 31 set, so a failure tests as a
// negative value. Objects keep the code of their last failure in a
// `lastError` field and report success as a bool; a later success never
// resets it.
#pragma once

#include <cstdint>

namespace brellin {

using ResultCode = std::int32_t;

constexpr ResultCode RESULT_OK = 0;
constexpr ResultCode RESULT_FAILED = static_cast<ResultCode>(0x80000000u);
constexpr ResultCode RESULT_UNSUPPORTED_FORMAT = static_cast<ResultCode>(0x80000001u);
constexpr ResultCode RESULT_DEVICE_ERROR = static_cast<ResultCode>(0x80000003u);
constexpr ResultCode RESULT_OUT_OF_MEMORY = static_cast<ResultCode>(0x80000004u);
constexpr ResultCode RESULT_CANNOT_OPEN_FILE = static_cast<ResultCode>(0x80000005u);
constexpr ResultCode RESULT_FILE_IO_ERROR = static_cast<ResultCode>(0x80000006u);
constexpr ResultCode RESULT_BUSY = static_cast<ResultCode>(0x80000008u);
constexpr ResultCode RESULT_NOT_FOUND = static_cast<ResultCode>(0x80000009u);
constexpr ResultCode RESULT_UNSUPPORTED_DATA = static_cast<ResultCode>(0x8000000Au);
constexpr ResultCode RESULT_NO_SOUND_FONT = static_cast<ResultCode>(0x8000000Bu);

struct ResultCodeInfo {
    ResultCode code;
    const char* name;     // "RESULT_FILE_IO_ERROR"
    const char* meaning;  // one line for a terminal or a report
};

// The whole table, in value order.
const ResultCodeInfo* resultCodeTable(int* count);

// Name of a code ("RESULT_OK" … ), or "RESULT_UNKNOWN" for a value not in the table.
const char* resultCodeName(ResultCode code);

// One-line meaning of a code, or "unknown result code".
const char* resultCodeMeaning(ResultCode code);

inline bool failed(ResultCode code) { return code < 0; }

}  // namespace brellin
