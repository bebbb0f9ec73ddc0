// The progress a font's revision reports through the caller's callback.
#pragma once

#include "engine/types.h"

// The overall percentage of a report: fontIndex*100/fontCount +
// step/fontCount in integers, or with floatForm the truncated sum of the two
// quotients in single precision.
int OverallPercent(int fontCount, int fontIndex, int step, bool floatForm);

// One progress report of a font's revision.  line1 names the font's path,
// line2 is the step's text with the font's file name (no folder, no
// extension) put in.  Returns the callback's answer; with no callback no
// report is made and the answer is 0.
int ReportProgress(ProgressCallbackFn callback, void* context, int fontCount, int fontIndex, int step,
                   bool floatForm, const char* fontPath, const char* line2Format);

// Where one font's revision reports: every report of the font says the same
// but for its step and its second line.
struct FontProgress {
    ProgressCallbackFn callback;
    void* context;
    int fontCount;
    int fontIndex;
    const char* fontPath;

    // The callback's answer to the report of step; non-zero asks for a stop.
    int Report(int step, bool floatForm, const char* line2Format) const {
        return ReportProgress(callback, context, fontCount, fontIndex, step, floatForm, fontPath, line2Format);
    }
};
