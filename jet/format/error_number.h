#pragma once

namespace jet {

// Jet's own error numbers, used where the engine meets the same situation as
// Access does, so that users can look them up.
namespace error_number {
inline constexpr int FileNotFound = 3024;         // "Não foi possível localizar o arquivo"
inline constexpr int EncryptedOrPassword = 3031;  // "Senha inválida": the file is protected by a password
inline constexpr int DiskIo = 3043;               // disk or network error
inline constexpr int DatabaseDamaged = 3049;      // cannot open the database: not a database, or damaged
inline constexpr int CannotOpenFile = 3051;       // the file exists but cannot be opened
inline constexpr int NotSupported = 3251;         // the operation is not supported for this kind of object
inline constexpr int UnrecognisedFormat = 3343;   // "Formato de banco de dados não reconhecido"
}  // namespace error_number

}  // namespace jet
