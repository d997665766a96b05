#pragma once

#include <stdexcept>
#include <string>

namespace jet {

// Jet error numbers repair reports, chosen where Access reports the same situation.
namespace repair_error_number {
inline constexpr int FileNotFound = 3024;         // "Não foi possível localizar o arquivo"
inline constexpr int CannotOpenFile = 3051;       // the file exists but cannot be opened for writing
inline constexpr int DatabaseDamaged = 3049;      // "cannot open database ... may not be a database ... or is corrupt"
inline constexpr int UnrecognisedFormat = 3343;   // "Formato de banco de dados não reconhecido"
inline constexpr int EncryptedOrPassword = 3031;  // "Senha inválida": the file is protected by a password
inline constexpr int DiskIo = 3043;               // disk or network error while writing
}  // namespace repair_error_number

// Why a repair could not be done: a Jet error number users can look up and a
// Portuguese description (what()) saying what is wrong and where.
class RepairError : public std::runtime_error {
public:
    RepairError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

}  // namespace jet
