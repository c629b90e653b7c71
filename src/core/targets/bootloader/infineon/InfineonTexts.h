// SPDX-License-Identifier: MIT
#pragma once

// Status texts of the "INFINEON XC161CJ" step, exactly as the operator sees them. The
// success text ("programed ok!") and "ERROR : opening COM port." are the run controller's
// own (app/Texts.h).
namespace ps {

constexpr const char* TextInfConnecting = "Connecting...";
constexpr const char* TextInfConnectingError = "Connecting error!";
constexpr const char* TextInfBootLoading = "Boot loading...";
constexpr const char* TextInfBootLoaderError = "BootLoader error!";
constexpr const char* TextInfLoaderLoading = "Loader loading...";
constexpr const char* TextInfLoaderError = "Loader error!";
constexpr const char* TextInfConnectingLoader2 = "Connecting loader 2...";
constexpr const char* TextInfFillError = "Fill error!";
constexpr const char* TextInfConnectingLoader = "Connecting loader...";
constexpr const char* TextInfTestingInternal = "Testing Internal Flash...";
constexpr const char* TextInfTestingExternal = "Testing External Flash...";
constexpr const char* TextInfErasingInternal = "Erasing Internal Flash...";
// "Erasing External Flash (" + sector count + "/11)..."
constexpr const char* TextInfErasingExternal = "Erasing External Flash (";
constexpr const char* TextInfErasingExternalEnd = "/11)...";
constexpr const char* TextInfEraseError = "Erase error!";
constexpr const char* TextInfProgramingInternal = "Programing Internal Flash...";
constexpr const char* TextInfProgramingExternal = "Programing External Flash...";
constexpr const char* TextInfProgramError = "program error!";
// Our own refusal of a stage program with nothing in the range it is sent from.
constexpr const char* TextInfStageWithoutData = "no data in the range the stage is sent from";

}  // namespace ps
