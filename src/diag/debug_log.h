// The debug log: a trace of one saver run, written to the current directory
// while "DebugOutput" is 1. A run's file carries a spool name until the run
// ends normally, so an interrupted run is recognisable by its spool file.
// While the log is closed every call is a harmless no-op, so callers never
// test whether tracing is on. All calls but LogLine come from the GUI thread.
#pragma once

#include <string_view>

// Creates VeltraneSSDebugSpoolN.log for the lowest N that neither a finished
// log (VeltraneSSDebugN.log) nor a left-over spool file holds, and writes the
// header. Does nothing when a log is open. The file is created exclusively,
// never through a symbolic link, and readable by its owner only: it names the
// user's pictures. When it cannot be created the log stays closed.
void OpenDebugLog();

// Writes the number as "0x%lx " of its unsigned 32-bit value, so -1 is
// 0xffffffff.
void LogNumber(long number);

// Writes the text as it stands; line breaks are texts of their own or end one.
void LogText(std::string_view text);

// Closes the log and gives the file its final name, unless that name has
// been taken meanwhile; the file then keeps its spool name.
void CloseDebugLog();

// The usual log line: a number, a text and a line break.
void LogEntry(long number, std::string_view text);

// Writes the text and a line break as one line, from any thread. A line the GUI
// thread has begun is never split: the text waits until that line ends.
void LogLine(std::string_view text);
