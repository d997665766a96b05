#pragma once

#include <sys/types.h>

#include <optional>

namespace testing_support {

// An ordinary user account besides the one running the tests.
struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The tests' own ordinary account, "compactador-teste", created with useradd
// when it is missing. Nothing when the tests do not run as root (then no file
// can be given to another user) or the account cannot be made.
std::optional<Account> secondUser();

// Becomes `account` for good: its group alone, then its user. False when the
// system refuses.
bool becomeUser(const Account& account);

}  // namespace testing_support
