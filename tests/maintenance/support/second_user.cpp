#include "second_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

constexpr const char* kAccountName = "compactador-teste";

std::optional<Account> lookUp() {
    const passwd* entry = ::getpwnam(kAccountName);
    if (entry == nullptr) return std::nullopt;
    return Account{entry->pw_uid, entry->pw_gid};
}

}  // namespace

std::optional<Account> secondUser() {
    if (::geteuid() != 0) return std::nullopt;
    if (std::optional<Account> found = lookUp()) return found;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/usr/sbin/useradd", "useradd", "--system", "--user-group", "--no-create-home", "--shell",
                "/usr/sbin/nologin", kAccountName, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return std::nullopt;
    return lookUp();
}

bool becomeUser(const Account& account) {
    return ::setgroups(0, nullptr) == 0 && ::setgid(account.gid) == 0 && ::setuid(account.uid) == 0 &&
           ::geteuid() == account.uid;
}

}  // namespace testing_support
