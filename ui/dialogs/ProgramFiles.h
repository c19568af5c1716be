// ProgramFiles: the program's own files of one kind (sound fonts "*.BRF",
// skins "*.INI") in its folder, as the Configure and Play mode dialogs list
// them, and which of them a setting names.
//
// The names are the files' raw bytes; a dialog shows them decoded but stores
// the name it listed, never the text read back from the box. UI thread only.
#pragma once

#include <string>
#include <vector>

namespace brellin {

class ProgramFiles {
public:
    // Lists folder/pattern (files only, no folders), sorted by name without
    // regard to ASCII case (byte order between names that differ only in
    // case), since the file system reports them in no useful order. False
    // when the folder cannot be listed (a path too long for its field, no
    // memory); `names` is then empty.
    bool scan(const char* folder, const char* pattern);

    // The position a setting names: the name itself (ASCII case ignored),
    // else a name that is the setting plus an extension ("small" is
    // "small.brf", never "small2.brf"), else the first name that begins
    // with the setting, else 0. -1 when the list is empty.
    int find(const char* wanted) const;

    // The name at `position`; null outside the list.
    const char* name(int position) const;

    std::vector<std::string> names;
};

}  // namespace brellin
