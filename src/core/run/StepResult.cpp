// SPDX-License-Identifier: MIT
#include "run/StepResult.h"

#include <cstdio>

#include "run/Station.h"
#include "run/Texts.h"

namespace ps {

std::string ImageCopyName(int32_t step) {
    char name[32];
    std::snprintf(name, sizeof name, "MEM%2d.BIN", static_cast<int>(step));
    return name;
}

std::string CheckSumFailText(uint32_t image, uint32_t target) {
    return TextCheckSumFail + std::to_string(image) + "," + std::to_string(target) + ")";
}

void ShowStepResult(Station& st, const std::string& okText, bool checksum) {
    ShowStepResult(st, okText, checksum, st.ImageChecksum, st.TargetChecksum);
}

void ShowStepResult(Station& st, const std::string& okText, bool checksum, uint32_t imageSum,
                    uint32_t targetSum) {
    if (st.ErrorCount >= 1) {
        st.Status(TextErrors + std::to_string(st.ErrorCount), StatusColorError);
        return;
    }
    // One status change: the operator (and a script reading the terminal) sees the verdict
    // once, not a success line followed by its correction.
    if (checksum && targetSum != imageSum)
        st.Status(CheckSumFailText(imageSum, targetSum), StatusColorError);
    else
        st.Status(checksum ? okText + TextCheckSumOk : okText, StatusColorNormal);
}

}  // namespace ps
