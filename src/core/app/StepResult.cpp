#include "app/StepResult.h"

#include <cstdio>

#include "app/Station.h"
#include "app/Texts.h"

namespace ps {

std::string ImageCopyName(int32_t step) {
    char name[32];
    std::snprintf(name, sizeof name, "MEM%2d.BIN", static_cast<int>(step));
    return name;
}

std::string CheckSumFailText(uint16_t image, uint16_t target) {
    return TextCheckSumFail + std::to_string(image) + "," + std::to_string(target) + ")";
}

void ShowStepResult(Station& st, const std::string& okText, bool checksum) {
    if (st.ErrorCount >= 1) {
        st.Status(TextErrors + std::to_string(st.ErrorCount), StatusColorError);
        return;
    }
    // One status change: the operator (and a script reading the terminal) sees the verdict
    // once, not a success line followed by its correction.
    if (checksum && st.TargetChecksum != st.ImageChecksum)
        st.Status(CheckSumFailText(st.ImageChecksum, st.TargetChecksum), StatusColorError);
    else
        st.Status(checksum ? okText + TextCheckSumOk : okText, StatusColorNormal);
}

}  // namespace ps
