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
    st.Status(okText, StatusColorNormal);
    if (!checksum) return;
    if (st.TargetChecksum == st.ImageChecksum)
        st.AppendStatus(TextCheckSumOk);
    else
        st.Status(CheckSumFailText(st.ImageChecksum, st.TargetChecksum), StatusColorError);
}

}  // namespace ps
