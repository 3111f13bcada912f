// Profile strings: keys in the sections of an initialisation file (Config.ini),
// read and written one at a time with the rules of the Windows profile functions.
//
// Section and key names compare ignoring letter case through the Windows-1251
// table. Lines of the form "[section]" open a section; "key=value" lines belong to
// the last section opened; lines starting with ";" are comments. A write changes
// only the line of its key (or adds lines) and keeps every other line, comments and
// blank lines included, byte for byte. Texts are Windows-1251, as is the file.
//
// Every call opens and reads the file afresh; no handle stays open. Calls block on
// the disk. Any thread, but one writer per file at a time (the caller's lock says
// which): a write reads the file, changes it and saves it whole.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::profile {

// The value of `key` in `section`: the text after the first "=", trimmed of blanks
// on both sides and of one pair of matching quotes ("..." or '...') around it. When
// the file, the section or the key is missing, or the file cannot be read,
// `default_value` trimmed of trailing blanks. The first matching section and the
// first matching key in it count.
std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view default_value);

// Sets `key` in `section` to `value`: replaces the key's line (keeping the key's
// spelling in the file), or adds the key at the end of the section, or adds the
// section at the end of the file; the file is created when missing. The file is
// replaced atomically (a crash leaves the old file or the new one). New lines end
// as the file's lines do ("\r\n" in a new file). Fails, changing nothing, when a
// name is empty or could not be read back as written (a line break anywhere, "="
// in a key, "]" in a section, a key starting with ";" or "["), or with "Unable to
// write to <file>" and the reason when the file cannot be saved.
Status WriteString(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view value);

// Removes the section: its "[section]" line and every line after it up to the next
// section (keys, comments, blank lines); the other lines stay byte for byte. The
// portable implementation removes every section of that name, which a read would
// otherwise find next; Windows' own functions remove the first.
// A missing file or section is no failure and leaves the file as it is. Fails,
// changing nothing, on a name no section line could hold, or with "Unable to
// write to <file>" and the reason when the file cannot be saved.
Status DeleteSection(const std::string& file, std::string_view section);

}  // namespace velka::profile
