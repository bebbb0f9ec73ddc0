// The last changes to a revised image before it is written (the serial
// strings in its name table, the head checksum and the whole-file
// adjustment) and the check of the file read back after the copy.
//
// These run on the image after the builder has put every table in place,
// but they read its directory again rather than trusting it: every record,
// string and table they touch is checked against the image first.
#pragma once

#include <cstdint>

#include "engine/progress.h"
#include "platform/winapi.h"

// Writes macSerial and winSerial over the license strings of the first
// name table among the first numTables directory records of the image of
// length bytes, and takes the table's checksum again: kReviseOk;
// kReviseNoNameTable when there is no such table; kReviseStopped, with
// nothing written, when the report of step 65 asks for a stop.
int PutSerialRecord(BYTE* image, uint32_t length, uint32_t numTables, const char* macSerial, const char* winSerial,
                    const FontProgress& progress);

// Takes the first head table's checksum with its adjustment at zero, then
// writes the adjustment that makes the image's sum 0xB1B0AFBA: kReviseOk;
// kReviseChecksum when there is no whole head table; kReviseStopped, with
// no adjustment written, when the report of step 75 asks for a stop.
int PutCheckSums(BYTE* image, uint32_t length, uint32_t numTables, const FontProgress& progress);

// Reads the file at path back, into reuse when its capacity holds it, and
// compares its word sum (whole words only) with expectedSum, and, unless
// expectedLength is 0, its length with expectedLength: kReviseOk,
// kReviseReadBackFailed or kReviseChecksum.
int CheckReadBack(const char* path, uint32_t expectedSum, uint32_t expectedLength, BYTE* reuse, uint64_t capacity);
