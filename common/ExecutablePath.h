// Where the program's own files are: the folder of the executable.
//
// Settings, skins and sound fonts are looked up beside the executable (its
// full path up to and including the last "/"). When that folder cannot be
// written or is an installation's <prefix>/bin/ (see isInstalledFolder),
// Brellin.cfg lives in
// $XDG_CONFIG_HOME/brellin/ (default ~/.config/brellin/) and the data files
// under the install prefix's share/brellin/. Every function writes a folder
// ending in "/" into a fixed field and returns false when the path cannot be
// obtained or does not fit (the field is then the empty text).
#pragma once

#include <cstddef>

namespace brellin {

// The executable's path up to and including its last "/" (readlink of
// /proc/self/exe).
bool executableFolder(char* out, std::size_t size);

// The folder of Brellin.cfg: the executable's folder when it is writable,
// otherwise the XDG configuration folder (created when `create` is set).
bool settingsFolder(char* out, std::size_t size, bool create = false);

// The folder of the sound fonts and skins: the executable's folder when it is
// writable, otherwise <prefix>/share/brellin/ for an executable in <prefix>/bin/.
bool dataFolder(char* out, std::size_t size);

// The part of a path up to and including its last "/", or "/" when it has none.
bool folderOfPath(const char* path, char* out, std::size_t size);

// The settings folder for a non-writable executable folder, from the values
// of XDG_CONFIG_HOME and HOME (either may be null or empty).
bool configFolderFromEnvironment(const char* xdgConfigHome, const char* home, char* out, std::size_t size);

// True for the folder of an installed copy: one that cannot be written, or a
// <prefix>/bin/ beside an existing <prefix>/share/brellin/ (so that root,
// who may write anywhere, does not put Brellin.cfg into /usr/bin). A build
// folder or any other copy is a portable installation: false.
bool isInstalledFolder(const char* programFolder);

// <prefix>/share/brellin/ for an executable folder <prefix>/bin/ (any last
// component is replaced the same way).
bool installDataFolder(const char* programFolder, char* out, std::size_t size);

}  // namespace brellin
