// The records file: where records go by default, and one record appended durably.
#pragma once

// Appends the line with one write to the file (created when absent), then flushes it to the
// disk before closing, so that a reader never sees half a record and a power cut keeps the
// last one. False when the file cannot be opened or the line not written whole.
bool record_file_append(const char* path_utf8, const char* line, unsigned length);
// The per-user records file (Windows: %LOCALAPPDATA%\TQ734 Updater\records.jsonl; Linux:
// ${XDG_DATA_HOME:-~/.local/share}/tq734-updater/records.jsonl), its folder created.
// False when there is no such place or the path does not fit.
bool default_record_path(char* out, unsigned capacity);
// This machine's name, UTF-8; "unknown" when the system gives none.
void record_host_name(char* out, unsigned capacity);
