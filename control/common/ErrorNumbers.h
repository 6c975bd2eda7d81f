// Error numbers the control's layers raise. The control itself examines only NoCurrentRecord.
#pragma once

#include <calmora/Error.h>

namespace calmora::err {

// Forms runtime
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int ObjectNotSet = 91;
inline constexpr int InvalidUseOfNull = 94;
inline constexpr int MemberNotFound = 438;
inline constexpr int WrongArgumentCount = 450;
inline constexpr int InvalidPicture = 481;

// Database engine
inline constexpr int NoCurrentRecord = 3021;
inline constexpr int DatabaseFileNotFound = 3024;
inline constexpr int NotAValidPassword = 3031;
inline constexpr int FileAlreadyInUse = 3045;
inline constexpr int CannotOpenFile = 3051;
inline constexpr int InputTableNotFound = 3078;
inline constexpr int ItemNotFound = 3265;
inline constexpr int SyntaxError = 3131;
inline constexpr int UnrecognizedDatabaseFormat = 3343;
inline constexpr int ObjectClosed = 3420;

[[noreturn]] void Raise(int number);                          // with the standard description
[[noreturn]] void Raise(int number, std::string description);
std::string Description(int number);  // the standard description of a forms-runtime number

}  // namespace calmora::err
