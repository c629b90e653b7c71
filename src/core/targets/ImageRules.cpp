// SPDX-License-Identifier: MIT
#include "targets/ImageRules.h"

#include <sys/stat.h>

#include <algorithm>

#include "images/FileLookup.h"
#include "images/ImageFile.h"
#include "images/TMOT.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/FuseBits.h"
#include "targets/bootloader/infineon/InfineonImage.h"
#include "targets/bootloader/intel/IntelImage.h"
#include "targets/bootloader/m91360/Loader91360.h"

namespace ps {

namespace {

// ModelIndex of each model whose image the account covers.
enum Model : int32_t {
    Motorola = 1,
    IntelBoot = 2,
    IntelLoaderRam = 3,
    IntelLoaderFlash = 4,
    IntelEmulator = 5,
    SharcSplit = 6,
    Atmel = 7,
    SharcBootFlash = 8,
    SharcHostBoot = 9,
    Boot574 = 10,
    Boot91360 = 11,
    Loader91360 = 12,
    Infineon = 13,
};

const char* const ReasonEmptyBinary = "empty binary";
const char* const LostAboveFlash = "above the flash's last sector";

const char* OnlyS2(const ImageByte& b) {
    if (b.RecordType == 1) return LostS1OnlyS2;
    if (b.RecordType == 3) return LostS3OnlyS2;
    return nullptr;
}

const char* OnlyS1(const ImageByte& b) {
    if (b.RecordType == 2) return LostS2OnlyS1;
    if (b.RecordType == 3) return LostS3OnlyS1;
    return nullptr;
}

// The flows that keep 16-bit record addresses take no base at all.
const char* Only16Bit(const ImageByte& b) {
    return b.BaseValue != 0 ? LostExtendedAddress : nullptr;
}

// ATMEL: whole pages from address 0 to the page that holds the window's last byte; an
// EEPROM write takes the offsets up to its end.
ImageByteJudge AtmelJudge(const StepSettings& s) {
    const bool eeprom = s.AtmelDevice == AvrLoader && s.AtProgEe == 1;
    const int64_t end = eeprom ? int64_t{AvrEepromEnd(s.AddrStart, s.AddrLen)} + 1
                               : int64_t{AvrPageCount(s.AddrStart, s.AddrLen)} * AvrPageSize;
    return [end](const ImageByte& b) -> const char* {
        if (const char* bad = Only16Bit(b)) return bad;
        return b.Address < end ? nullptr : LostOutsideWindow;
    };
}

// 91360: S2 records into TMOT from "/ADDRSTART=", sent over the step's window; the
// loader writes flash, which ends with its last sector.
ImageByteJudge Judge91360(const StepSettings& s, bool flash) {
    const int64_t first = s.AddrStart;
    const int64_t end =
        first + std::min<int64_t>(std::max<int64_t>(s.AddrLen, 0), TMOT::ImageEntries);
    return [first, end, flash](const ImageByte& b) -> const char* {
        if (const char* bad = OnlyS2(b)) return bad;
        if (b.Address < first || b.Address >= end) return LostOutsideWindow;
        if (flash && b.Address >= Flash91360Sectors[Flash91360SectorCount]) return LostAboveFlash;
        return nullptr;
    };
}

// INFINEON: type 04 records set the upper address byte (their low byte only), type 02
// records are not read; the internal flash lies at 0xC00000, the external one at
// "/ADDREXTFLASH=".
ImageByteJudge InfineonJudge(const StepSettings& s) {
    const int64_t external = s.AddrExtFlash;
    return [external](const ImageByte& b) -> const char* {
        if (b.BaseRecord == 0x02 && b.BaseValue != 0) return LostExtendedAddress;
        const int64_t upper = b.BaseRecord == 0x04 ? b.BaseValue : InfineonInternalFlash >> 16;
        const int64_t a = upper << 16 | b.Address;
        if (a >= InfineonInternalFlash && a < InfineonInternalFlash + InfineonInternalSize)
            return nullptr;
        if (a >= external && a < external + InfineonExternalSize) return nullptr;
        return LostNeitherFlash;
    };
}

StepImageAccount BinaryAccount(const std::string& path) {
    StepImageAccount out;
    out.Applies = true;
    out.Path = path;
    std::string ambiguity;
    const std::string found = FindFileIgnoringCase(path, ambiguity);
    struct stat st {};
    if (found.empty() || ::stat(found.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return out;
    out.Account.Opened = true;
    out.Account.DataBytes = st.st_size;
    if (st.st_size == 0) out.Account.Malformed = ReasonEmptyBinary;
    return out;
}

}  // namespace

StepImageAccount AccountStepImage(const StepSettings& s, const MapGeometry& map,
                                  const LostRecordSink& sink,
                                  const std::function<bool()>& keepGoing) {
    StepImageAccount out;
    if (s.ProgramFile.empty()) return out;
    RecordFormat format = RecordFormat::IntelHex;
    const char* extension = ".HEX";
    ImageByteJudge judge;
    switch (s.ModelIndex) {
        case Motorola:
            format = RecordFormat::SRecord;
            judge = OnlyS2;
            break;
        case IntelBoot:
        case IntelLoaderRam:
        case IntelLoaderFlash: {
            const int32_t model = s.ModelIndex;
            if (!IntelWindowProblem(s, model, map.ShownRows()).empty()) return out;
            judge = [s, model](const ImageByte& b) { return IntelByteProblem(s, model, b); };
            break;
        }
        case IntelEmulator:
        case SharcBootFlash:
            judge = Only16Bit;
            break;
        case Atmel:
            if (s.AtmelDevice == AvrLoader && s.AtProgEe == 2) return out;
            if (!AvrRangeError(s).empty()) return out;
            judge = AtmelJudge(s);
            break;
        case SharcHostBoot:
            return BinaryAccount(ResolveImageName(s.ProgramFile, extension));
        case Boot574:
            format = RecordFormat::SRecord;
            extension = ".MHX";
            judge = OnlyS1;
            break;
        case Loader91360:
        case Boot91360:
            if (s.ModelIndex == Loader91360 && s.AutoErase && Sectors91360OfWindow(s) == 0)
                return out;
            format = RecordFormat::SRecord;
            extension = ".MHX";
            judge = Judge91360(s, s.ModelIndex == Loader91360);
            break;
        case Infineon:
            judge = InfineonJudge(s);
            break;
        case SharcSplit:
        default:
            return out;  // no loader of records ("None"), or records of the flow's own
    }
    out.Applies = true;
    out.Path = ResolveImageName(s.ProgramFile, extension);
    out.Account = AccountImageFile(out.Path, format, judge, sink, keepGoing);
    return out;
}

}  // namespace ps
