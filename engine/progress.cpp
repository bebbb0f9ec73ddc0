#include "engine/progress.h"

#include "platform/framework/cstring.h"
#include "platform/framework/path.h"

int OverallPercent(int fontCount, int fontIndex, int step, bool floatForm) {
    if (fontCount < 1) fontCount = 1;
    if (floatForm) {
        // Each quotient rounded to single precision, then the sum truncated: with
        // the last font's step 100 this reaches exactly 100.
        const float a = static_cast<float>(fontIndex) * 100.0f / static_cast<float>(fontCount);
        const float b = static_cast<float>(step) / static_cast<float>(fontCount);
        return static_cast<int>(a + b);
    }
    return fontIndex * 100 / fontCount + step / fontCount;
}

int ReportProgress(ProgressCallbackFn callback, void* context, int fontCount, int fontIndex, int step,
                   bool floatForm, const char* fontPath, const char* line2Format) {
    if (!callback) return 0;
    CString name;
    SplitPath(fontPath, nullptr, nullptr, &name, nullptr);
    CString line1, line2;
    line1.Format("%sの改訂をしています。", fontPath);
    line2.Format(line2Format, static_cast<const char*>(name));
    return callback(OverallPercent(fontCount, fontIndex, step, floatForm), step, line1, line2, context);
}
