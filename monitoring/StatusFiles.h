#pragma once
// File-system steps of the monitoring status files: whole-or-nothing writes, folders, path
// components that come from outside, and clearing a folder.
#include <string>
#include <string_view>

namespace StatusFiles {

// Mode of the folders made for status files.
inline constexpr unsigned kDirMode = 0755;

// True when text can name one entry inside a folder: not empty, not "." or "..", without
// "/" or NUL, at most 255 bytes. Texts from the control link pass here before they become
// part of a path.
bool IsSafeComponent(std::string_view text);

// Name pattern of the temporary files of WriteAtomic (the X's become a unique suffix). It is
// hidden from folder listings; a set command may use such a name all the same: the temporary
// file is created exclusively and so never collides with an entry that exists.
inline constexpr char kTempPattern[] = ".tmp.XXXXXX";

// Writes content to a new temporary file in the same folder and renames it over path, so a
// reader sees the old or the new content, never a part. 0, or the errno of the failing step
// (the temporary file is then removed).
int WriteAtomic(const std::string& path, std::string_view content);

// Makes the folder (kDirMode) when it does not exist; 0, or errno.
int MakeDir(const std::string& path);

// Removes every file, link and empty sub-folder directly inside the folder; a sub-folder that
// holds anything stays whole. A symbolic link is removed, never followed. The folder stays.
void ClearDir(const std::string& path);

}  // namespace StatusFiles
