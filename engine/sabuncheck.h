// Whether a difference file describes a sound revised font: the rules the
// builder relies on, checked on the parsed file, with or without the
// installed font it is meant for.
//
// The builder asks only "does it fit?"; the makers' tool wants every rule a
// file breaks, so the one checker can do both.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/otmodel.h"
#include "engine/sabun.h"

// Largest revised font the builder makes: its lengths are held in signed
// 32 bits where checksums are taken.
static const uint64_t kMaxRevisedFileLength = 0x7FFFFFFCu;

enum SabunFaultKind {
    kFaultTableCount,       // tableCount differs from the installed font's table count
    kFaultFileLengthAlign,  // newFileLength is not a multiple of 4
    kFaultFileLengthShort,  // newFileLength does not hold the offset table and directory
    kFaultFileLengthLarge,  // newFileLength beyond what the builder makes
    kFaultIndexRange,       // newIndex not below tableCount
    kFaultIndexTwice,       // newIndex of an earlier record (other)
    kFaultSlotEmpty,        // no record for directory slot `other`
    kFaultTagTwice,         // tag of an earlier record (other)
    kFaultTagUnknown,       // the installed font has no table of this tag
    kFaultOldTableMissing,  // the installed font's table lies outside its file
    kFaultOffsetAlign,      // newOffset is not a multiple of 4
    kFaultOverDirectory,    // the table starts inside the offset table or directory
    kFaultPastFileEnd,      // newOffset + padded length beyond newFileLength
    kFaultOverlap,          // padded extent overlaps that of record `other`
    kFaultCopyOutside,      // copy block `block` reads outside the old table
    kFaultUnfilled,         // more zero bytes that no table or block fills than the installed font is long
    kFaultCopiedTooMuch,    // copy blocks that take more than twice the installed font's length
};

struct SabunFault {
    SabunFaultKind kind;
    int record;  // record number, -1 for the header
    int other;   // an earlier record, or a slot; -1 when none
    int block;   // copy block number, -1 when none
};

// Checks the records of data (as many as were parsed).  With a font (as
// loading leaves it) the records are checked against its tables too; without
// one, a taken-over table's length is taken from its record.  Returns the
// number of faults; with faults null it stops at the first.
int CheckSabunData(const CMakeSabunData& data, const LoadedFont* font, std::vector<SabunFault>* faults);
